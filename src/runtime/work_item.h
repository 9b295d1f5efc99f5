// A unit of work queued to a work-item thread. Producers create items on the heap; once a queue
// has accepted one, the queue owns it and deletes it through this destructor.
#ifndef QUILLON_RUNTIME_WORK_ITEM_H
#define QUILLON_RUNTIME_WORK_ITEM_H

namespace kestrel::thread {

class IWorkItem {
public:
    virtual ~IWorkItem() = default;
};

}  // namespace kestrel::thread

#endif
