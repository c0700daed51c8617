#include "text/DatabaseAddress.h"

#include <cctype>

namespace {

constexpr const char* kMask = "***";

bool StartsWithFolded(const std::string& text, const char* prefix) {
    size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    static_cast<unsigned char>(prefix[i])) {
            return false;
        }
    }
    return true;
}

size_t SchemeLength(const std::string& text) {
    for (const char* scheme : {"postgresql://", "postgres://"}) {
        if (StartsWithFolded(text, scheme)) {
            return std::string(scheme).size();
        }
    }
    return 0;
}

int HexValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// A URL's text with %XX decoded, as libpq reads a parameter's name.
std::string PercentDecoded(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

// The URL's password parameters after the '?' at query, masked.
std::string QueryMasked(const std::string& url, size_t query) {
    std::string masked = url.substr(0, query + 1);
    for (size_t at = query + 1; at <= url.size();) {
        const size_t end = std::min(url.find('&', at), url.size());
        const std::string parameter = url.substr(at, end - at);
        const size_t equals = parameter.find('=');
        masked +=
            equals != std::string::npos && PercentDecoded(parameter.substr(0, equals)) == "password"
                ? parameter.substr(0, equals + 1) + kMask
                : parameter;
        if (end < url.size()) {
            masked += '&';
        }
        at = end + 1;
    }
    return masked;
}

// The credentials end at the first '@'; the password is what follows the
// first ':' in them. (libpq looks for them only before the first '/'; an
// '@' after one is masked all the same, since a password with a '/' in it
// is still a password.)
std::string UrlMasked(const std::string& url, size_t scheme) {
    std::string masked = url;
    const size_t at = url.find('@', scheme);
    const size_t colon = url.find(':', scheme);
    if (at != std::string::npos && colon < at) {
        masked = url.substr(0, colon + 1) + kMask + url.substr(at);
    }
    const size_t query = masked.find('?', scheme);
    return query == std::string::npos ? masked : QueryMasked(masked, query);
}

bool IsBlank(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// The end of the value that starts at at: a quoted value runs to its
// closing quote, a plain one to the next blank; a backslash takes the
// character after it in either.
size_t ValueEnd(const std::string& text, size_t at) {
    const bool quoted = at < text.size() && text[at] == '\'';
    for (size_t i = quoted ? at + 1 : at; i < text.size(); ++i) {
        if (text[i] == '\\') {
            ++i;
        } else if (quoted ? text[i] == '\'' : IsBlank(text[i])) {
            return quoted ? i + 1 : i;
        }
    }
    return text.size();
}

// key=value pairs: the value of password masked, a URL given as dbname
// masked as a URL.
std::string PairsMasked(const std::string& text) {
    std::string masked;
    size_t at = 0;
    while (at < text.size()) {
        size_t keyStart = at;
        while (keyStart < text.size() && IsBlank(text[keyStart])) {
            ++keyStart;
        }
        size_t equals = keyStart;
        while (equals < text.size() && text[equals] != '=' && !IsBlank(text[equals])) {
            ++equals;
        }
        const std::string key = text.substr(keyStart, equals - keyStart);
        while (equals < text.size() && IsBlank(text[equals])) {
            ++equals;
        }
        if (equals >= text.size() || text[equals] != '=') {
            return masked + text.substr(at);  // not a pair: left as it is
        }
        size_t valueStart = equals + 1;
        while (valueStart < text.size() && IsBlank(text[valueStart])) {
            ++valueStart;
        }
        const size_t valueEnd = ValueEnd(text, valueStart);
        const std::string value = text.substr(valueStart, valueEnd - valueStart);
        masked += text.substr(at, valueStart - at);
        masked += key == "password" ? (value.empty() ? value : kMask)
                  : key == "dbname" ? WithPasswordMasked(value)
                                    : value;
        at = valueEnd;
    }
    return masked;
}

}  // namespace

bool IsDatabaseUrl(const std::string& text) {
    return SchemeLength(text) != 0;
}

std::string WithPasswordMasked(const std::string& address) {
    const size_t scheme = SchemeLength(address);
    if (scheme != 0) {
        return UrlMasked(address, scheme);
    }
    return address.find('=') == std::string::npos ? address : PairsMasked(address);
}
