#pragma once

#include "commands.h"

#include <cstdio>

namespace meridoc::cards {

// The progress line of a long run: "meridoc-cards: 12000/50000 contacts" rewritten in place on
// stderr, shown only when stderr is a terminal and the run has more than 2,000 contacts.
class Progress {
public:
    Progress(const CommandContext &ctx, long long total)
        : err_(ctx.err), total_(total), shown_(ctx.progress && total > 2000) {}
    ~Progress() {
        if (shown_ && done_ > 0)
            std::fputc('\n', err_);
    }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void step() {
        if (shown_ && (++done_ % 1000 == 0 || done_ == total_))
            std::fprintf(err_, "meridoc-cards: %lld/%lld contacts\r", done_, total_);
    }

private:
    std::FILE *err_;
    long long total_;
    long long done_ = 0;
    bool shown_;
};

} // namespace meridoc::cards
