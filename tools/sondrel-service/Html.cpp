#include "Html.h"

namespace standin {

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string htmlPage(std::string_view title, std::string_view bodyMarkup) {
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>";
    page += htmlEscape(title);
    page += "</title>\n<style>body{font-family:sans-serif;margin:2em;max-width:30em}"
            "input{display:block;margin:.4em 0}.button{padding:.3em 1em;border:1px solid #888}"
            "</style></head>\n<body>\n";
    page += bodyMarkup;
    page += "\n</body></html>\n";
    return page;
}

const char* statusReason(int status) {
    switch (status) {
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 410:
        return "Gone";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Error";
    }
}

} // namespace standin
