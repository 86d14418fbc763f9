#include "helper/KillWriter.h"

#include <deque>
#include <mutex>
#include <vector>

#include "helper/HelperCache.h"
#include "helper/Module.h"
#include "history/LogWriter.h"
#include "win/Integrity.h"

namespace helper {

namespace {

// An idle writer waits this long for the next kill before its thread ends.
constexpr DWORD kLingerMs = 2000;
// A kill is recorded this long after it happened, when the browser has done with the event.
constexpr DWORD kSettleMs = 5;
// Its stack: enough for the file and registry calls, little of a browser's address space.
constexpr SIZE_T kStackBytes = 256 * 1024;

// What recording a kill does in this process: a Protected Mode browser may write the log
// in LocalLow, but its registry writes would land in a private store, so it asks the tray
// program to count.
history::TKillRecording RecordingForThisProcess()
{
    return history::RecordingFor(contract::DutiesAt(win::ProcessIntegrity()));
}

// The browser's thread only queues and sets an event, which never waits on the writer.
class TKillWriter {
  public:
    TKillWriter()
        : work_(CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          idle_(CreateEventA(nullptr, TRUE, TRUE, nullptr))
    {
    }

    bool Queue(TPendingKill&& kill)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back(std::move(kill));
            ResetEvent(idle_.get());
            closing_ = false;
            if (!running_) Start();
        }
        SetEvent(work_.get());
        return true;
    }

    bool Drain(DWORD timeoutMs)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_ && !queue_.empty()) Start();
            if (!running_) return queue_.empty();
        }
        bool drained = WaitForSingleObject(idle_.get(), timeoutMs) == WAIT_OBJECT_0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true; // the last window is gone: no need to linger
        }
        SetEvent(work_.get());
        return drained;
    }

  private:
    // The thread's life; it ends when no kill came for a while, or at once when idle after
    // the last window closed.
    void Run()
    {
        win::Kernel lock = history::CreateWriterMutex();
        history::TKillRecording how = RecordingForThisProcess();
        std::unique_lock<std::mutex> guard(mutex_);
        for (;;) {
            if (queue_.empty()) {
                if (closing_) break;
                guard.unlock();
                bool woken = WaitForSingleObject(work_.get(), kLingerMs) == WAIT_OBJECT_0;
                // Woken by a kill: the browser's thread is still in its event; let it finish
                // before the files are touched.
                if (woken) Sleep(kSettleMs);
                guard.lock();
                if (queue_.empty() && (!woken || closing_)) break;
                continue;
            }
            // Every kill queued so far, kept on disk before the lock is waited for.
            std::deque<TPendingKill> kills;
            kills.swap(queue_);
            guard.unlock();
            Record(lock.get(), kills, how);
            guard.lock();
            if (queue_.empty()) SetEvent(idle_.get());
        }
        running_ = false;
    }

    static void Record(HANDLE lock, std::deque<TPendingKill>& kills,
                       const history::TKillRecording& how)
    {
        try {
            const TPendingKill* kept = nullptr;
            std::vector<const TPendingKill*> unkept;
            for (const TPendingKill& kill : kills) {
                if (history::KeepKill(kill.logPath, kill.entry))
                    kept = &kill;
                else
                    unkept.push_back(&kill); // recorded the old way, after
            }
            // Those kept are taken in, with any other browser's left, in the order kept. A
            // kill the tray program is asked to count is told as it is taken; the others
            // only after the view is read again below.
            history::TKillRecording taking = how;
            taking.notify = how.notify && how.askTrayToCount;
            int untold = 0;
            if (kept)
                untold =
                    history::RecordKeptKills(lock, kept->logPath, kept->maxLogSizeKb, taking).taken;
            history::TKillRecording first = how;
            first.notify = false;
            for (const TPendingKill* kill : unkept)
                history::RecordKill(lock, kill->entry, kill->logPath, kill->maxLogSizeKb, first);
            // The counters changed the settings key: its view is read again here, not on
            // the browser's thread at its next event (which would judge by the last view
            // meanwhile), before the tray program hears of the kills.
            THelperCache::Instance().Fresh(false);
            if (!how.notify) return;
            for (; !taking.notify && untold > 0; --untold)
                history::NotifyTrayProgram(false);
            for (const TPendingKill* kill : unkept)
                history::TellTrayProgram(lock, kill->logPath, how);
        } catch (...) {
            // out of memory: these records are lost, unless kept; the next ones are not
        }
    }

    static DWORD WINAPI Main(void* module)
    {
        TKillWriter& writer = Instance();
        try {
            writer.Run();
        } catch (...) {
            // The queue stays for the next writer.
            std::lock_guard<std::mutex> lock(writer.mutex_);
            writer.running_ = false;
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
        if (!work_ || !idle_ ||
            !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
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
    std::deque<TPendingKill> queue_;
    win::Kernel work_; // set for each kill queued
    win::Kernel idle_; // set while nothing is queued or being written
    bool running_ = false;
    bool closing_ = false;
};

} // namespace

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
