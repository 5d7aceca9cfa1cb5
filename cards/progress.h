#pragma once

#include "commands.h"

#include <cstdio>

namespace meridoc::cards {

// The progress line of a long run: "meridoc-cards: 12000/50000 contacts" rewritten in place on
// stderr, shown only when stderr is a terminal and the run has more than 2,000 contacts. While the
// number of contacts is not known yet (Unknown), the line counts them ("12000 contacts read") once
// there are more than 2,000.
class Progress {
public:
    static constexpr long long Unknown = -1;

    Progress(const CommandContext &ctx, long long total)
        : err_(ctx.err), total_(total), shown_(ctx.progress && (total > 2000 || total == Unknown)) {
    }
    ~Progress() {
        if (shown_ && printed_)
            std::fputc('\n', err_);
    }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;

    void step() {
        if (!shown_ || (++done_ % 1000 != 0 && done_ != total_))
            return;
        if (total_ != Unknown)
            std::fprintf(err_, "meridoc-cards: %lld/%lld contacts\r", done_, total_);
        else if (done_ > 2000)
            std::fprintf(err_, "meridoc-cards: %lld contacts read\r", done_);
        else
            return;
        printed_ = true;
    }

private:
    std::FILE *err_;
    long long total_;
    long long done_ = 0;
    bool shown_;
    bool printed_ = false;
};

} // namespace meridoc::cards
