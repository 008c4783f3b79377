#pragma once
// Test helper: splits a raw HTTP response into status, header lines and body,
// and the body into lines as the rates reader sees them.

#include <string>
#include <string_view>
#include <vector>

namespace rates::test {

struct ParsedResponse {
    std::string StatusLine;
    int Status = 0;
    std::vector<std::string> Headers;
    std::string Body;
    bool Valid = false;

    std::string Header(std::string_view name) const {
        for (const auto& h : Headers)
            if (h.size() > name.size() && h.compare(0, name.size(), name) == 0 &&
                h[name.size()] == ':')
                return h.substr(name.size() + 2);
        return {};
    }
};

inline ParsedResponse ParseResponse(std::string_view raw) {
    ParsedResponse r;
    const auto end = raw.find("\r\n\r\n");
    if (end == std::string_view::npos)
        return r;
    std::string_view head = raw.substr(0, end + 2);
    r.Body = std::string(raw.substr(end + 4));
    bool first = true;
    while (!head.empty()) {
        const auto eol = head.find("\r\n");
        std::string line(head.substr(0, eol));
        head.remove_prefix(eol + 2);
        if (first) {
            r.StatusLine = line;
            if (line.size() >= 12)
                r.Status = std::stoi(line.substr(9, 3));
            first = false;
        } else {
            r.Headers.push_back(line);
        }
    }
    r.Valid = true;
    return r;
}

// Lines of a CR LF text.
inline std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        const auto eol = text.find("\r\n");
        lines.emplace_back(text.substr(0, eol));
        if (eol == std::string_view::npos)
            break;
        text.remove_prefix(eol + 2);
    }
    return lines;
}

}  // namespace rates::test
