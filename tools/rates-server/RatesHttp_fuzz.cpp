// Fuzz target: arbitrary bytes as what a client has sent so far, read the
// way the server reads a connection's input: the head examined, a complete
// head (or a whole request line) read into a request, and the service's
// answer from the sample rates.  Nothing may crash or overrun, and every
// answer must be a whole response whose Content-Length tells its body.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/RatesService.h"
#include "tools/rates-server/XmlService.h"

namespace {

rates::RatesService& Service() {
    static auto* service =
        new rates::RatesService(rates::RatesData::Load(KURS_RATES_SAMPLE_DATA), nullptr);
    return *service;
}

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// A whole response: "HTTP/1.0 NNN reason", header lines, an empty line, and
// a body of the length given unless the request was a HEAD.
void CheckResponse(const std::string& r, bool isHead) {
    Check(r.starts_with("HTTP/1.0 ") && r.size() > 12);
    const int status = std::atoi(r.substr(9, 3).c_str());
    Check(status >= 200 && status <= 599);
    const std::size_t end = r.find("\r\n\r\n");
    Check(end != std::string::npos);
    const std::string_view head = std::string_view(r).substr(0, end + 2);
    Check(head.find('\0') == std::string_view::npos);
    Check(head.find("\r\nDate: ") != std::string_view::npos);
    if (status == 304) {
        Check(r.size() == end + 4);
        return;
    }
    const std::size_t at = head.find("\r\nContent-Length: ");
    Check(at != std::string_view::npos);
    const std::size_t length = std::strtoull(r.c_str() + at + 18, nullptr, 10);
    const std::size_t body = r.size() - (end + 4);
    Check(isHead ? body == 0 : body == length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const rates::HeadState state = rates::ExamineHead(in);
    const bool line = rates::HasRequestLine(in);
    // A head that is complete, or too long, has a whole first line.
    if (state == rates::HeadState::Complete)
        Check(line);
    if (state == rates::HeadState::TooLong)
        Check(size > rates::kMaxHeadBytes);
    if (state == rates::HeadState::BadRequestLine || !line) {
        CheckResponse(rates::BadRequestAnswer(), false);
        return 0;
    }
    const rates::Request request = rates::ReadRequest(in);
    // The bank's XML service answers some paths the page does not know.
    const bool xml = request.What == rates::RequestKind::NotFound &&
                     rates::ReadXmlQuery(request.Path, request.Query).has_value();
    if (request.What != rates::RequestKind::RatesPage && !xml) {
        CheckResponse(rates::ErrorAnswer(request), request.IsHead);
        return 0;
    }
    bool later = false;
    const auto answer = Service().Answer(in, [&](std::string) { later = true; });
    // Without the bank's service every answer is ready at once.
    Check(answer.has_value() && !later);
    CheckResponse(*answer, request.IsHead);
    Check(answer->starts_with("HTTP/1.0 200 ") || answer->starts_with("HTTP/1.0 304 "));
    return 0;
}
