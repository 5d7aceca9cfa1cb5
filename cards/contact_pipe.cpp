#include "contact_pipe.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace meridoc::cards {
namespace {

// Contacts go over in batches, so that the two threads meet (and wake each other) once every few
// dozen contacts rather than for each.
constexpr std::size_t BatchContacts = 64;
constexpr qint64 BatchBytes = 1 << 20;
constexpr qint64 QueuedBytes = 4 << 20; // a batch more is not queued while these wait

// About the memory a contact holds: its texts.
qint64 bytesOf(const Contact &c) {
    qint64 chars = c.given.size() + c.family.size() + c.formatted.size() + c.note.size() +
                   c.uid.size() + c.additional.size() + c.prefix.size() + c.suffix.size() +
                   (c.comments ? c.comments->size() : 0);
    for (const Phone &p : c.phones)
        chars += p.number.size() + p.types.size() * 8;
    for (const Detail &d : c.details)
        chars += d.label.size() + d.value.size();
    for (const QString &s : c.notKept)
        chars += s.size();
    for (const QString &s : c.remarks)
        chars += s.size();
    return 256 + 2 * chars;
}

struct Batch {
    std::vector<Contact> contacts;
    qint64 bytes = 0;
};

// The batches read and not yet taken, and how the reading ended.
class Pipe {
public:
    // Reading side: false once the taking side has stopped.
    bool put(Batch &&batch) {
        std::unique_lock lock(mutex_);
        roomLeft_.wait(lock, [&] { return stopped_ || queue_.empty() || queued_ < QueuedBytes; });
        if (stopped_)
            return false;
        queued_ += batch.bytes;
        queue_.push_back(std::move(batch));
        arrived_.notify_one();
        return true;
    }

    void finish(std::optional<ParseError> error, std::exception_ptr failure) {
        std::lock_guard lock(mutex_);
        error_ = std::move(error);
        failure_ = failure;
        finished_ = true;
        arrived_.notify_one();
    }

    // Taking side: the next batch, or nothing once the reading has finished and all is taken.
    std::optional<Batch> take() {
        std::unique_lock lock(mutex_);
        arrived_.wait(lock, [&] { return finished_ || !queue_.empty(); });
        if (queue_.empty())
            return std::nullopt;
        Batch batch = std::move(queue_.front());
        queue_.pop_front();
        queued_ -= batch.bytes;
        roomLeft_.notify_one();
        return batch;
    }

    void stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        roomLeft_.notify_one();
    }

    std::optional<ParseError> result() {
        std::lock_guard lock(mutex_);
        if (failure_)
            std::rethrow_exception(failure_);
        return error_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_, roomLeft_;
    std::deque<Batch> queue_;
    qint64 queued_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
    std::optional<ParseError> error_;
    std::exception_ptr failure_;
};

} // namespace

std::optional<ParseError> ReadAside(const ContactReading &read, const ContactSink &sink) {
    Pipe pipe;
    std::thread reader([&] {
        std::optional<ParseError> error;
        std::exception_ptr failure;
        try {
            Batch batch;
            bool open = true;
            error = read([&](Contact &&c) {
                batch.bytes += bytesOf(c);
                batch.contacts.push_back(std::move(c));
                if (batch.contacts.size() >= BatchContacts || batch.bytes >= BatchBytes)
                    open = pipe.put(std::exchange(batch, {}));
                return open;
            });
            if (open && !batch.contacts.empty())
                pipe.put(std::move(batch));
        } catch (...) {
            failure = std::current_exception();
        }
        pipe.finish(std::move(error), failure);
    });
    // However the taking ends, the reader is stopped and waited for before the pipe goes.
    struct Join {
        Pipe &pipe;
        std::thread &reader;
        ~Join() {
            pipe.stop();
            reader.join();
        }
    } join{pipe, reader};
    while (std::optional<Batch> batch = pipe.take()) {
        for (Contact &c : batch->contacts) {
            if (!sink(std::move(c)))
                return std::nullopt; // `join` stops the reading
        }
    }
    return pipe.result();
}

} // namespace meridoc::cards
