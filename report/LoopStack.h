#pragma once

#include <cstdint>
#include <memory>

// Template positions of the open blocks of a report template.
class cLoopStack {
public:
    cLoopStack() = default;
    ~cLoopStack();
    cLoopStack(const cLoopStack&) = delete;
    cLoopStack& operator=(const cLoopStack&) = delete;

    void Push(uint64_t position);
    // False when empty.
    bool Pop(uint64_t& position);
    bool Empty() const { return !top_; }
    size_t Depth() const { return depth_; }

private:
    struct Node {
        uint64_t position;
        std::unique_ptr<Node> next;
    };
    std::unique_ptr<Node> top_;
    size_t depth_ = 0;
};
