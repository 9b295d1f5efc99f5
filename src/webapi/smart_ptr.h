// TSmartPtr: a shared, counting holder. Copies share one heap counter; the last holder to let go
// deletes the object. The counter is atomic, so holders may be copied and released on different
// threads; a single holder object is, like any value, used by one thread at a time.
#ifndef QUILLON_WEBAPI_SMART_PTR_H
#define QUILLON_WEBAPI_SMART_PTR_H

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

template <typename T>
class TSmartPtr {
public:
    TSmartPtr() = default;
    TSmartPtr(const TSmartPtr& other) { ShareFrom(other); }
    TSmartPtr& operator=(const TSmartPtr& other) {
        if (this != &other && other.m_object != m_object) {
            TSmartPtr copy(other);
            Release();
            std::swap(m_counter, copy.m_counter);
            std::swap(m_object, copy.m_object);
        }
        return *this;
    }
    virtual ~TSmartPtr() { Release(); }

    // Takes ownership of `object` when the holder is empty. False (ownership stays with the
    // caller) when the holder already holds something, `object` is null, or no counter can be had.
    bool Attach(T* object) {
        if (object == nullptr || m_object != nullptr) return false;
        m_counter = new (std::nothrow) std::atomic<std::uint32_t>(1);
        if (m_counter == nullptr) return false;
        m_object = object;
        return true;
    }

    void Release() {
        std::atomic<std::uint32_t>* counter = m_counter;
        T* object = m_object;
        m_counter = nullptr;
        m_object = nullptr;
        if (counter == nullptr) return;
        std::uint32_t count = counter->load();
        // Never below zero, even if a broken invariant let the count reach it.
        while (count != 0 && !counter->compare_exchange_weak(count, count - 1)) {
        }
        if (count == 1) {
            delete object;
            delete counter;
        }
    }

    T* Get() const { return m_object; }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    void ShareFrom(const TSmartPtr& other) {
        if (other.m_object == nullptr) return;
        other.m_counter->fetch_add(1);
        m_counter = other.m_counter;
        m_object = other.m_object;
    }

    std::atomic<std::uint32_t>* m_counter = nullptr;
    T* m_object = nullptr;
};

#endif
