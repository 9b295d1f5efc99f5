#include "runtime/auth_challenge.h"

namespace kestrel {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsTokenEnd(char c) { return IsBlank(c) || c == ',' || c == '=' || c == '"'; }

// A quoted-string (RFC 7230 section 3.2.6) starting at text[position] == '"', unescaped. False
// when it never closes.
bool ReadQuoted(std::string_view text, std::size_t& position, std::string& value) {
    for (++position; position < text.size() && text[position] != '"'; ++position) {
        if (text[position] == '\\' && position + 1 < text.size()) ++position;
        value += text[position];
    }
    if (position >= text.size()) return false;
    ++position;
    return true;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

std::string AuthChallenge::Parameter(std::string_view name) const {
    for (const auto& parameter : parameters) {
        if (parameter.first == name) return parameter.second;
    }
    return std::string();
}

bool AuthChallenge::HasParameter(std::string_view name) const {
    for (const auto& parameter : parameters) {
        if (parameter.first == name) return true;
    }
    return false;
}

bool ParseAuthChallenges(std::string_view value, std::vector<AuthChallenge>& challenges) {
    const std::size_t before = challenges.size();
    std::size_t position = 0;
    auto skip = [&](auto predicate) {
        while (position < value.size() && predicate(value[position])) ++position;
    };
    for (;;) {
        skip([](char c) { return IsBlank(c) || c == ','; });
        if (position >= value.size()) return true;
        std::size_t begin = position;
        skip([](char c) { return !IsTokenEnd(c); });
        std::string_view token = value.substr(begin, position - begin);
        if (token.empty()) return false;  // a stray '=' or '"'
        std::size_t afterToken = position;
        skip(IsBlank);
        if (position >= value.size() || value[position] != '=') {
            // A token without '=' names the scheme of the next challenge.
            challenges.push_back(AuthChallenge{std::string(token), {}});
            position = afterToken;
            continue;
        }
        ++position;
        skip(IsBlank);
        std::string parameter;
        if (position < value.size() && value[position] == '"') {
            if (!ReadQuoted(value, position, parameter)) return false;
        } else {
            std::size_t valueBegin = position;
            skip([](char c) { return !IsBlank(c) && c != ','; });
            parameter.assign(value.substr(valueBegin, position - valueBegin));
        }
        // Parameters before any scheme belong to no challenge.
        if (challenges.size() == before) continue;
        std::string name(token);
        for (char& c : name) c = LowerAscii(c);
        challenges.back().parameters.emplace_back(std::move(name), std::move(parameter));
    }
}

}  // namespace kestrel
