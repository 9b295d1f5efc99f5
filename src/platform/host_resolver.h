// Name resolution that a stopping caller need not wait for. The system's resolver cannot be
// interrupted: with a DNS server that does not answer it holds its caller for its whole time-out.
// Here the lookup runs on a thread of its own; a caller that stops waiting leaves it to finish
// and its result is dropped. A later Resolve of the same name while that lookup still runs waits
// for it instead of starting another, so a resolver has at most one lookup running. A dotted
// address needs no lookup and no thread.
//
// Threading: one caller at a time. The lookup thread touches only the state it shares with the
// resolver, so the resolver may be destroyed while a lookup runs; that thread is never killed and
// ends when the system's resolver gives up.
#ifndef QUILLON_PLATFORM_HOST_RESOLVER_H
#define QUILLON_PLATFORM_HOST_RESOLVER_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kestrel::platform {

// Four dotted decimal parts of 0-255 to an address in host order; false for anything else.
bool ParseDottedIpv4(const std::string& text, std::uint32_t& address);

class HostResolver {
public:
    // The blocking lookup: the system's resolver, or a stand-in for tests.
    using LookupFunction = std::function<bool(const std::string& host, std::uint32_t& address)>;
    // Waits up to the given milliseconds for the caller's stop; true when it came.
    using WaitForStop = std::function<bool(std::uint32_t milliseconds)>;
    enum class Result { kResolved, kNotFound, kStopped };

    // An empty lookup takes the system's resolver (ResolveIpv4).
    explicit HostResolver(LookupFunction lookup = LookupFunction());
    ~HostResolver();
    HostResolver(const HostResolver&) = delete;
    HostResolver& operator=(const HostResolver&) = delete;

    // The first IPv4 address of `host`, unless `waitForStop` reports a stop first.
    Result Resolve(const std::string& host, std::uint32_t& address, const WaitForStop& waitForStop);

private:
    struct PendingLookup;  // one lookup, shared with its thread

    // A running or finished lookup of `host`: the pending one when it is of that name, else a new
    // one (null when no thread can be had).
    std::shared_ptr<PendingLookup> LookupOf(const std::string& host);

    LookupFunction m_lookup;
    std::shared_ptr<PendingLookup> m_pending;  // the latest lookup; kept while it runs
};

}  // namespace kestrel::platform

#endif
