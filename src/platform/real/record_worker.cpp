#include "platform/real/record_worker.h"

namespace velkantor::platform {

RecordWorker::RecordWorker(stream::RecordSink& target, size_t max_bytes)
    : target_(target), max_bytes_(max_bytes), thread_([this] { run(); }) {}

RecordWorker::~RecordWorker() {
    stop();
}

void RecordWorker::record(const stream::MiniSeedRecord& record) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (bytes_ + record.bytes.size() > max_bytes_) {
            ++dropped_;
            if (!full_) {
                lines_.push_back(
                    "miniSEED archive falls behind its writes: records are not "
                    "archived until it catches up (the datalog keeps the samples)");
            }
            full_ = true;
            return;
        }
        if (full_) {
            lines_.push_back("miniSEED archive caught up; " + std::to_string(dropped_) +
                             " records were not archived");
            full_ = false;
        }
        bytes_ += record.bytes.size();
        queue_.push_back(record);
    }
    wake_.notify_one();
}

void RecordWorker::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and everything written
        stream::MiniSeedRecord next = std::move(queue_.front());
        queue_.pop_front();
        ++busy_;
        lock.unlock();
        target_.record(next);
        lock.lock();
        --busy_;
        bytes_ -= next.bytes.size();
    }
}

void RecordWorker::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> RecordWorker::take_lines() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.swap(lines_);
    return lines;
}

void RecordWorker::tell(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
}

long RecordWorker::dropped() const {
    std::lock_guard lock(mutex_);
    return dropped_;
}

size_t RecordWorker::waiting() const {
    std::lock_guard lock(mutex_);
    return queue_.size() + busy_;
}

}  // namespace velkantor::platform
