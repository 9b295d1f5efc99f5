#include "host/capability_host.h"

#include <sstream>

#include "runtime/host_call.h"

namespace quillon_host {

using kestrel::DestroyObject;

class CHostCapabilityResults::Item final : public ICapabilityItem {
public:
    Item(CHostCapabilityResults& owner, std::uint32_t index) : m_owner(owner), m_index(index) {}
    void* Destroy(unsigned int flags) override { return DestroyObject(this, flags); }
    void SetText(const char* text) override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        ++m_owner.m_snapshot.calls;
        m_owner.m_snapshot.connectionItems[m_index] = text ? text : "";
    }
    const char* GetText() override { return ""; }

private:
    CHostCapabilityResults& m_owner;
    const std::uint32_t m_index;
};

class CHostCapabilityResults::Custom final : public ICapabilityCustomProperty {
public:
    Custom(CHostCapabilityResults& owner, std::uint32_t index) : m_owner(owner), m_index(index) {}
    void* Destroy(unsigned int flags) override { return DestroyObject(this, flags); }
    void SetValue(const char* value) override {
        Update('v', [&](CustomProperty& p) { p.value = value ? value : ""; });
    }
    const char* GetValue() override { return ""; }
    const char* GetName() override { return ""; }
    void SetReadOnly(std::uint32_t readOnly) override {
        Update('r', [&](CustomProperty& p) { p.readOnly = readOnly; });
    }
    void SetName(const char* name) override {
        Update('n', [&](CustomProperty& p) { p.name = name ? name : ""; });
    }
    void SetValueType(std::uint32_t type) override {
        Update('t', [&](CustomProperty& p) { p.valueType = type; });
    }

private:
    template <typename Change>
    void Update(char call, Change change) {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        ++m_owner.m_snapshot.calls;
        CustomProperty& property = m_owner.m_snapshot.customProperties[m_index];
        property.callOrder += call;
        change(property);
    }

    CHostCapabilityResults& m_owner;
    const std::uint32_t m_index;
};

class CHostCapabilityResults::Resolutions final : public ICapabilityResolutionList {
public:
    explicit Resolutions(CHostCapabilityResults& owner) : m_owner(owner) {}
    void* Destroy(unsigned int flags) override { return DestroyObject(this, flags); }
    void AddResolutionItem(const char* text, std::uint32_t width, std::uint32_t height,
                           std::uint32_t frameInterval) override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        ++m_owner.m_snapshot.calls;
        m_owner.m_snapshot.resolutions.push_back({text ? text : "", width, height, frameInterval});
    }
    std::uint32_t GetCount() override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        return static_cast<std::uint32_t>(m_owner.m_snapshot.resolutions.size());
    }

private:
    CHostCapabilityResults& m_owner;
};

class CHostCapabilityResults::Values final : public ICapabilityValueList {
public:
    explicit Values(CHostCapabilityResults& owner) : m_owner(owner) {}
    void* Destroy(unsigned int flags) override { return DestroyObject(this, flags); }
    void SetDefaultValue(std::uint32_t value) override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        ++m_owner.m_snapshot.calls;
        m_owner.m_snapshot.defaultFrameInterval = value;
        m_owner.m_snapshot.defaultSet = true;
    }
    void AddValue(std::uint32_t value) override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        ++m_owner.m_snapshot.calls;
        m_owner.m_snapshot.frameIntervals.push_back(value);
    }
    std::uint32_t GetCount() override {
        std::lock_guard<std::mutex> guard(m_owner.m_mutex);
        return static_cast<std::uint32_t>(m_owner.m_snapshot.frameIntervals.size());
    }

private:
    CHostCapabilityResults& m_owner;
};

CHostCapabilityResults::CHostCapabilityResults()
    : m_resolutions(std::make_unique<Resolutions>(*this)), m_values(std::make_unique<Values>(*this)) {}

CHostCapabilityResults::~CHostCapabilityResults() = default;

void* CHostCapabilityResults::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

void CHostCapabilityResults::SetProperty(std::uint32_t id, std::uint32_t value) {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    m_snapshot.properties.emplace_back(id, value);
}

void CHostCapabilityResults::SetModelName(const char* text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    m_snapshot.modelName = text ? text : "";
}

ICapabilityItem* CHostCapabilityResults::GetConnectionItem(std::uint32_t index) {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    std::unique_ptr<Item>& item = m_items[index];
    if (!item) item = std::make_unique<Item>(*this, index);
    return item.get();
}

std::uint32_t CHostCapabilityResults::GetConnectionItemCount() {
    return 4;
}

ICapabilityCustomProperty* CHostCapabilityResults::GetCustomProperty(std::uint32_t index) {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    std::unique_ptr<Custom>& custom = m_customs[index];
    if (!custom) custom = std::make_unique<Custom>(*this, index);
    return custom.get();
}

ICapabilityResolutionList* CHostCapabilityResults::GetResolutionList() {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    return m_resolutions.get();
}

std::uint32_t CHostCapabilityResults::GetCustomPropertyCount() {
    std::lock_guard<std::mutex> guard(m_mutex);
    return static_cast<std::uint32_t>(m_customs.size());
}

ICapabilityValueList* CHostCapabilityResults::GetValueList(std::uint32_t kind) {
    std::lock_guard<std::mutex> guard(m_mutex);
    ++m_snapshot.calls;
    return kind == 1 ? m_values.get() : nullptr;
}

CapabilitySnapshot CHostCapabilityResults::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_snapshot;
}

std::string CHostCapabilityResults::Summary() const {
    const CapabilitySnapshot s = Snapshot();
    std::ostringstream out;
    out << "model: " << s.modelName << "\n";
    for (const auto& [id, value] : s.properties) out << "property " << id << ": " << value << "\n";
    for (const auto& [index, property] : s.customProperties) out << property.name << ": " << property.value << "\n";
    for (const ResolutionItem& item : s.resolutions)
        out << "resolution " << item.text << " frame interval " << item.frameInterval << " ms\n";
    out << "frame intervals (ms):";
    for (std::uint32_t interval : s.frameIntervals) out << " " << interval;
    out << "\ndefault frame interval: " << s.defaultFrameInterval << " ms\n";
    for (const auto& [index, text] : s.connectionItems) out << "connection item " << index << ": " << text << "\n";
    return out.str();
}

void* CHostQueryCallback::Destroy(unsigned int flags) {
    return DestroyObject(this, flags);
}

void CHostQueryCallback::OnQueryStarted() {}

void CHostQueryCallback::OnQueryCompleted() {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_outcome.ended = m_outcome.completed = true;
    ++m_outcome.calls;
    m_ended.notify_all();
}

void CHostQueryCallback::OnQueryFailed(std::uint32_t code, const char* text) {
    std::lock_guard<std::mutex> guard(m_mutex);
    m_outcome.ended = true;
    m_outcome.failureCode = code;
    m_outcome.failureText = text ? text : "";
    ++m_outcome.calls;
    m_ended.notify_all();
}

bool CHostQueryCallback::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_ended.wait_for(lock, timeout, [&] { return m_outcome.ended; });
}

QueryOutcome CHostQueryCallback::Outcome() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_outcome;
}

}  // namespace quillon_host
