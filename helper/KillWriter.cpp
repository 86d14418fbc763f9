#include "helper/KillWriter.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "helper/HelperCache.h"
#include "helper/Module.h"
#include "history/LogWriter.h"

namespace helper {

namespace {

// An idle writer waits this long for the next kill before its thread ends.
constexpr DWORD kLingerMs = 2000;
// A kill is recorded this long after it happened, when the browser has done with the event.
constexpr DWORD kSettleMs = 5;
// Its stack: enough for the file and registry calls, little of a browser's address space.
constexpr SIZE_T kStackBytes = 256 * 1024;

// What recording a kill does in this process. Here the decision has one place to live, for
// when it depends on the process (where it may write, whom it must ask to count).
history::TKillRecording RecordingForThisProcess()
{
    return {};
}

class TKillWriter {
  public:
    bool Queue(TPendingKill&& kill)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(kill));
            closing_ = false;
            if (!running_) {
                Start();
                return true;
            }
        }
        changed_.notify_all();
        return true;
    }

    bool Drain(DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!running_ && !queue_.empty()) Start();
        bool drained = !running_ ? queue_.empty()
                                 : changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                     [&] { return queue_.empty() && !writing_; });
        closing_ = true; // the last window is gone: no need to linger
        changed_.notify_all();
        return drained;
    }

    // The thread's life; it ends when no kill came for a while.
    void Run()
    {
        win::Kernel lock = history::CreateWriterMutex();
        history::TKillRecording how = RecordingForThisProcess();
        std::unique_lock<std::mutex> guard(mutex_);
        for (;;) {
            if (queue_.empty()) {
                changed_.wait_for(guard, std::chrono::milliseconds(kLingerMs),
                                  [&] { return !queue_.empty() || closing_; });
                if (queue_.empty()) break;
                // Woken by a kill: the browser's thread is still in its event; let it finish
                // before the files are touched.
                guard.unlock();
                Sleep(kSettleMs);
                guard.lock();
            }
            TPendingKill kill = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
            guard.unlock();
            try {
                history::TKillRecording first = how;
                first.notify = false;
                history::RecordKill(lock.get(), kill.entry, kill.logPath, kill.maxLogSizeKb, first);
                // The counters changed the settings key: its view is read again here, not on
                // the browser's thread at its next event.
                THelperCache::Instance().Fresh(false);
                if (how.notify) history::NotifyTrayProgram(how.notifyParam);
            } catch (...) {
                // out of memory: this record is lost, the next ones are not
            }
            guard.lock();
            writing_ = false;
            if (queue_.empty()) changed_.notify_all();
        }
        running_ = false;
        changed_.notify_all();
    }

  private:
    static DWORD WINAPI Main(void* module)
    {
        TKillWriter& writer = Instance();
        try {
            writer.Run();
        } catch (...) {
            // The queue stays for the next writer; waiters are let go.
            writer.writing_ = false;
            writer.running_ = false;
            writer.changed_.notify_all();
        }
        // The module reference taken for us at the start keeps the code here until the end.
        --g_writers;
        FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
    }

    // Called with mutex_ held. A thread that cannot be started leaves the kills queued for
    // the next attempt.
    void Start()
    {
        HMODULE module = nullptr;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                reinterpret_cast<LPCSTR>(&TKillWriter::Main), &module))
            return;
        ++g_writers;
        HANDLE thread = CreateThread(nullptr, kStackBytes, &TKillWriter::Main, module,
                                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) {
            --g_writers;
            FreeLibrary(module);
            return;
        }
        // Behind the browser's own threads: the records can wait a little, the user cannot.
        SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
        CloseHandle(thread);
        running_ = true;
    }

  public:
    static TKillWriter& Instance() { return TLibraryObject<TKillWriter>::Get(); }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<TPendingKill> queue_;
    std::atomic<bool> running_{false};
    std::atomic<bool> writing_{false};
    bool closing_ = false;
};

} // namespace

void DestroyLibraryObjects() noexcept
{
    TLibraryObject<TKillWriter>::DestroyAtUnload();
    TLibraryObject<THelperCache>::DestroyAtUnload();
}

bool QueueKill(TPendingKill kill) noexcept
{
    try {
        return TKillWriter::Instance().Queue(std::move(kill));
    } catch (...) {
        return false;
    }
}

bool DrainKills(DWORD timeoutMs) noexcept
{
    try {
        return TKillWriter::Instance().Drain(timeoutMs);
    } catch (...) {
        return false;
    }
}

} // namespace helper
