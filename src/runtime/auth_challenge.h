// The challenges of a WWW-Authenticate header value (RFC 7235 section 4.1), as the RTSP client
// and the web API read them. Parsing only: which challenge to answer is the caller's choice.
#ifndef QUILLON_RUNTIME_AUTH_CHALLENGE_H
#define QUILLON_RUNTIME_AUTH_CHALLENGE_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel {

struct AuthChallenge {
    std::string scheme;  // as received, e.g. "Digest"
    // Names lower-cased; quoted values unquoted and unescaped.
    std::vector<std::pair<std::string, std::string>> parameters;

    // The value of the first parameter named `name` (lower-case); empty when absent.
    std::string Parameter(std::string_view name) const;
    bool HasParameter(std::string_view name) const;
};

// Appends the challenges of one header value, in their order. A header value may hold several,
// separated by commas. False when the value is malformed (a quote that never closes, a stray '='
// or '"'); the challenges read before the fault stay appended.
bool ParseAuthChallenges(std::string_view value, std::vector<AuthChallenge>& challenges);

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace kestrel

#endif
