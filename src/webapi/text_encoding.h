// Escaping of values that the web API client puts into URLs, form bodies and XML text.
// Letters, digits and "-._~" pass unchanged, so plain values are sent exactly as typed.
#ifndef QUILLON_WEBAPI_TEXT_ENCODING_H
#define QUILLON_WEBAPI_TEXT_ENCODING_H

#include <string>

namespace kestrel {

// Percent-encoding of every other byte (RFC 3986 unreserved set kept); fit for a query value and,
// since a form decoder reads "%20" as a space, for an x-www-form-urlencoded value as well.
std::string PercentEncode(const std::string& value);

// Character data for an XML element: '&', '<' and '>' as entity references.
std::string XmlEscape(const std::string& value);

}  // namespace kestrel

#endif
