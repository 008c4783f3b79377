#include "tools/rates-server/RatesPages.h"

#include "runtime/String.h"

namespace rates {

namespace {

constexpr std::string_view kCrLf = "\r\n";

}  // namespace

// A short page for an error status; the text is UTF-8 here.
std::string ErrorPage(int status, std::string_view reason, std::string_view russian) {
    const std::string title = std::to_string(status) + " " + std::string(reason);
    std::string page;
    for (std::string_view line :
         {std::string_view("<html>"), std::string_view("<head>"),
          std::string_view(
              "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">")}) {
        page += line;
        page += kCrLf;
    }
    page += "<title>" + title + "</title>\r\n</head>\r\n<body>\r\n";
    page += "<h1>" + title + "</h1>\r\n";
    page += "<p>" + std::string(russian) + "</p>\r\n";
    page += "</body>\r\n</html>\r\n";
    return Utf8ToCp1251(page);
}

std::string RatesPage(const RatesTable* table, const Date& requested) {
    std::string p;
    auto line = [&p](std::string_view text) {
        p += text;
        p += kCrLf;
    };
    line("<html>");
    line("<head>");
    line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">");
    line("<title>Официальные курсы валют</title>");
    line("</head>");
    line("<body>");
    line("<h3>Официальные курсы иностранных валют на заданную дату</h3>");
    line("<p>Дата запроса: " + requested.Text() + "</p>");
    if (table == nullptr) {
        line("<p>Курсы иностранных валют на " + requested.Text() + " не зарегистрированы.</p>");
    } else {
        line("<p>Центральный банк Российской Федерации установил с " + table->From.Text() +
             " следующие курсы иностранных валют к рублю без обязательств покупать или продавать"
             " указанные валюты по данному курсу.</p>");
        line("<table border=\"1\" cellpadding=\"3\">");
        line("<tr>");
        for (std::string_view head : {"Единиц", "Букв. код", "Валюта", "Цифр. код", "Курс, руб."})
            line("<th>" + std::string(head) + "</th>");
        line("</tr>");
        // The nominal two lines above the name, the rate two lines below it.
        for (const auto& c : table->Currencies) {
            line("<tr>");
            line("<td>" + std::to_string(c.Nominal) + "</td>");
            line("<td>" + c.CharCode + "</td>");
            line("<td>" + c.Name + "</td>");
            line("<td>" + c.NumCode + "</td>");
            line("<td>" + c.Rate + "</td>");
            line("</tr>");
        }
        line("</table>");
    }
    line(
        "<p><small>Образец для проверки программы kurs: условные цифры, а не официальные"
        " курсы.</small></p>");
    line("</body>");
    line("</html>");
    return Utf8ToCp1251(p);
}

std::string NoRatesPage(const Date& requested) {
    return ErrorPage(200, "OK", "На " + requested.Text() + " у сервера нет курсов валют.");
}

std::string UpstreamFailurePage(const Date& requested) {
    return ErrorPage(502, "Bad Gateway",
                     "Курсы валют на " + requested.Text() + " не удалось получить от банка.");
}

}  // namespace rates
