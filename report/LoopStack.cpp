#include "report/LoopStack.h"

cLoopStack::~cLoopStack() {
    // Unlinked one by one: a deep stack must not recurse through the node destructors.
    uint64_t ignored;
    while (Pop(ignored)) {
    }
}

void cLoopStack::Push(uint64_t position) {
    top_ = std::make_unique<Node>(Node{position, std::move(top_)});
    ++depth_;
}

bool cLoopStack::Pop(uint64_t& position) {
    if (!top_)
        return false;
    position = top_->position;
    top_ = std::move(top_->next);
    --depth_;
    return true;
}
