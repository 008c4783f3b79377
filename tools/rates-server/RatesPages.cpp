#include "tools/rates-server/RatesPages.h"

#include "runtime/String.h"
#include "tools/rates-server/MarkupText.h"

namespace rates {

namespace {

constexpr std::string_view kCrLf = "\r\n";

// Appends lines ended by CR LF to a UTF-8 page.
class PageText {
  public:
    void Line(std::string_view text) {
        FText += text;
        FText += kCrLf;
    }
    // The head of the rates page and of the page without rates.
    void RatesHead(const Date& requested) {
        Line("<html>");
        Line("<head>");
        Line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">");
        Line("<title>Официальные курсы валют</title>");
        Line("</head>");
        Line("<body>");
        Line("<h3>Официальные курсы иностранных валют на заданную дату</h3>");
        Line("<p>Дата запроса: " + requested.Text() + "</p>");
    }
    void End() {
        Line("</body>");
        Line("</html>");
    }
    std::string Served() const { return Utf8ToCp1251(FText); }

  private:
    std::string FText;
};

}  // namespace

// A short page for an error status; the text is UTF-8 here.
std::string ErrorPage(int status, std::string_view reason, std::string_view russian) {
    const std::string title = std::to_string(status) + " " + std::string(reason);
    PageText p;
    p.Line("<html>");
    p.Line("<head>");
    p.Line("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1251\">");
    p.Line("<title>" + title + "</title>");
    p.Line("</head>");
    p.Line("<body>");
    p.Line("<h1>" + title + "</h1>");
    p.Line("<p>" + std::string(russian) + "</p>");
    p.End();
    return p.Served();
}

std::string RatesPage(const RatesTable* table, const Date& requested) {
    PageText p;
    p.RatesHead(requested);
    if (table == nullptr) {
        p.Line("<p>Курсы иностранных валют на " + requested.Text() + " не зарегистрированы.</p>");
    } else {
        p.Line("<p>Центральный банк Российской Федерации установил с " + table->From.Text() +
               " следующие курсы иностранных валют к рублю без обязательств покупать или"
               " продавать указанные валюты по данному курсу.</p>");
        p.Line("<table border=\"1\" cellpadding=\"3\">");
        p.Line("<tr>");
        for (std::string_view head : {"Единиц", "Букв. код", "Валюта", "Цифр. код", "Курс, руб."})
            p.Line("<th>" + std::string(head) + "</th>");
        p.Line("</tr>");
        // The nominal two lines above the name, the rate two lines below it.
        // The euro is written "ЕВРО", as the old page wrote it and the window
        // looks for it; the bank's documents of today say "Евро".
        for (const auto& c : table->Currencies) {
            p.Line("<tr>");
            p.Line("<td>" + std::to_string(c.Nominal) + "</td>");
            p.Line("<td>" + c.CharCode + "</td>");
            p.Line("<td>" + (c.CharCode == "EUR" ? std::string("ЕВРО") : HtmlText(c.Name)) +
                   "</td>");
            p.Line("<td>" + c.NumCode + "</td>");
            p.Line("<td>" + c.Rate + "</td>");
            p.Line("</tr>");
        }
        p.Line("</table>");
        // Only in letter codes: the window finds a currency by its name in
        // any line, and this line must change nothing of what it reads.
        if (table->Partial) {
            std::string codes;
            for (const auto& c : table->Currencies)
                codes += (codes.empty() ? "" : ", ") + c.CharCode;
            p.Line(
                "<p><small>Это не вся таблица Центрального банка на эту дату: у этого сервера"
                " есть курсы только этих валют: " +
                codes + ".</small></p>");
        }
        p.Line(
            "<p><small>Источник: официальные курсы, опубликованные Центральным банком"
            " Российской Федерации.</small></p>");
    }
    p.End();
    return p.Served();
}

// Like the rates page, without a table and without the phrases the window
// looks for, so that the window says it got no rates rather than show others.
std::string NoRatesPage(const Date& requested) {
    PageText p;
    p.RatesHead(requested);
    p.Line("<p>У этого сервера нет курсов валют на " + requested.Text() + ".</p>");
    p.End();
    return p.Served();
}

std::string UpstreamFailurePage(const Date& requested) {
    return ErrorPage(502, "Bad Gateway",
                     "Курсы валют на " + requested.Text() +
                         " не удалось получить от Центрального банка: его служба не ответила"
                         " или ответила не так, как ожидалось. Попробуйте позже.");
}

}  // namespace rates
