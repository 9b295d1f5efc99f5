#include "platform/host_resolver.h"

#include <exception>
#include <mutex>

#include "platform/sockets.h"
#include "platform/thread.h"

namespace kestrel::platform {

namespace {
// How often a waiting caller looks at the lookup between its waits for a stop.
constexpr std::uint32_t kPollMs = 20;
}  // namespace

struct HostResolver::PendingLookup {
    explicit PendingLookup(std::string name) : host(std::move(name)) {}
    const std::string host;
    std::mutex lock;
    bool done = false;      // guarded by lock
    bool found = false;     // guarded by lock
    std::uint32_t address = 0;  // guarded by lock
};

bool ParseDottedIpv4(const std::string& text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
        std::size_t digits = 0;
        std::uint32_t number = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4; ++at, ++digits)
            number = number * 10 + std::uint32_t(text[at] - '0');
        if (digits == 0 || digits > 3 || number > 255) return false;
        value = value << 8 | number;
    }
    if (at != text.size()) return false;
    address = value;
    return true;
}

HostResolver::HostResolver(LookupFunction lookup) : m_lookup(std::move(lookup)) {
    if (!m_lookup) m_lookup = [](const std::string& host, std::uint32_t& address) { return ResolveIpv4(host, address); };
}

HostResolver::~HostResolver() = default;

std::shared_ptr<HostResolver::PendingLookup> HostResolver::LookupOf(const std::string& host) {
    if (m_pending && m_pending->host == host) {
        std::lock_guard<std::mutex> guard(m_pending->lock);
        // A finished lookup is not reused: a camera known by name may have moved.
        if (!m_pending->done) return m_pending;
    }
    std::shared_ptr<PendingLookup> pending;
    try {
        pending = std::make_shared<PendingLookup>(host);
        // Detached: the thread holds only the shared state and ends with the system's resolver.
        const bool started = StartDetachedThread([pending, lookup = m_lookup] {
            std::uint32_t address = 0;
            const bool found = lookup(pending->host, address);
            std::lock_guard<std::mutex> guard(pending->lock);
            pending->found = found;
            pending->address = address;
            pending->done = true;
        });
        if (!started) return nullptr;  // no thread to be had: the caller looks up itself
    } catch (const std::exception&) {
        return nullptr;
    }
    m_pending = pending;
    return pending;
}

HostResolver::Result HostResolver::Resolve(const std::string& host, std::uint32_t& address,
                                           const WaitForStop& waitForStop) {
    if (ParseDottedIpv4(host, address)) return Result::kResolved;
    std::shared_ptr<PendingLookup> pending = LookupOf(host);
    if (!pending) return m_lookup(host, address) ? Result::kResolved : Result::kNotFound;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(pending->lock);
            if (pending->done) {
                if (!pending->found) return Result::kNotFound;
                address = pending->address;
                return Result::kResolved;
            }
        }
        if (waitForStop(kPollMs)) return Result::kStopped;
    }
}

}  // namespace kestrel::platform
