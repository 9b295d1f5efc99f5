// Reference host objects for the capability query: results that keep everything the driver
// writes, and a callback that records how the query ended.
//
// Usage (as the capture program's "query" command does it):
//     quillon_host::CHostCapabilityResults results;
//     quillon_host::CHostQueryCallback callback;
//     InitCapabilityQuery(&callback, false);
//     StartCapabilityQuery("127.0.0.1", 80, "admin", "admin", &results);
//     if (callback.WaitForEnd(std::chrono::seconds(15)) && callback.Outcome().completed)
//         std::cout << results.Summary();
//     UninitCapabilityQuery();
//
// Threading: the driver writes from its query thread; every accessor locks, so a test or program
// may read from any thread.
#ifndef QUILLON_TOOLS_HOST_CAPABILITY_HOST_H
#define QUILLON_TOOLS_HOST_CAPABILITY_HOST_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quillon/quillon.h"

namespace quillon_host {

using namespace kestrel::ipcapture;

struct ResolutionItem {
    std::string text;
    std::uint32_t width;
    std::uint32_t height;
    std::uint32_t frameInterval;
};

struct CustomProperty {
    std::string name;
    std::string value;
    std::uint32_t readOnly = 0xFFFFFFFF;   // never written
    std::uint32_t valueType = 0xFFFFFFFF;  // never written
    // The order of the entries the driver called: 'n' name, 't' type, 'r' read-only, 'v' value.
    std::string callOrder;
};

// Everything a query wrote. `properties` in the order written (an id may repeat).
struct CapabilitySnapshot {
    std::string modelName;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> properties;
    std::map<std::uint32_t, std::string> connectionItems;
    std::map<std::uint32_t, CustomProperty> customProperties;
    std::vector<ResolutionItem> resolutions;
    std::vector<std::uint32_t> frameIntervals;
    std::uint32_t defaultFrameInterval = 0;
    bool defaultSet = false;
    std::uint32_t calls = 0;  // every entry the driver called
};

class CHostCapabilityResults final : public ICapabilityResults {
public:
    CHostCapabilityResults();
    ~CHostCapabilityResults();

    void* Destroy(unsigned int flags) override;
    void SetProperty(std::uint32_t id, std::uint32_t value) override;
    void SetModelName(const char* text) override;
    ICapabilityItem* GetConnectionItem(std::uint32_t index) override;
    std::uint32_t GetConnectionItemCount() override;
    ICapabilityCustomProperty* GetCustomProperty(std::uint32_t index) override;
    ICapabilityResolutionList* GetResolutionList() override;
    std::uint32_t GetCustomPropertyCount() override;
    ICapabilityValueList* GetValueList(std::uint32_t kind) override;

    CapabilitySnapshot Snapshot() const;
    // A readable account, one item per line.
    std::string Summary() const;

    class Item;
    class Custom;
    class Resolutions;
    class Values;

private:
    friend class Item;
    friend class Custom;
    friend class Resolutions;
    friend class Values;

    mutable std::mutex m_mutex;
    CapabilitySnapshot m_snapshot;  // guarded by m_mutex
    // The sub-objects handed out, one per index or kind; they write into m_snapshot.
    std::map<std::uint32_t, std::unique_ptr<Item>> m_items;     // guarded by m_mutex
    std::map<std::uint32_t, std::unique_ptr<Custom>> m_customs;  // guarded by m_mutex
    std::unique_ptr<Resolutions> m_resolutions;
    std::unique_ptr<Values> m_values;
};

struct QueryOutcome {
    bool ended = false;
    bool completed = false;
    std::uint32_t failureCode = 0;
    std::string failureText;
    std::uint32_t calls = 0;  // OnQueryCompleted and OnQueryFailed together
};

class CHostQueryCallback final : public ICapabilityQueryCallback {
public:
    void* Destroy(unsigned int flags) override;
    void OnQueryStarted() override;
    void OnQueryCompleted() override;
    void OnQueryFailed(std::uint32_t code, const char* text) override;

    // Waits until the query reported its end or the time-out passed; true when it ended.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    QueryOutcome Outcome() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    QueryOutcome m_outcome;  // guarded by m_mutex
};

}  // namespace quillon_host

#endif
