#include "helper/KeyWatch.h"

namespace helper {

namespace {

bool Exists(HKEY root, const std::string& path, REGSAM view)
{
    win::RegKey key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

std::string Parent(const std::string& path)
{
    size_t end = path.rfind('\\');
    return end == std::string::npos ? std::string() : path.substr(0, end);
}

} // namespace

TKeyWatch::TKeyWatch(HKEY root, std::string path, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view),
      changed_(CreateEventA(nullptr, FALSE, FALSE, nullptr))
{
}

bool TKeyWatch::Quiet() const
{
    return armed_ && WaitForSingleObject(changed_.get(), 0) == WAIT_TIMEOUT;
}

bool TKeyWatch::Renew()
{
    const bool wasAtKey = atKey_;
    // A few rounds at most: each finds the key deeper along the path, or gone.
    for (int round = 0; round < 8; ++round) {
        std::string at = path_;
        while (!at.empty() && !Exists(root_, at, view_))
            at = Parent(at);
        if (!watched_ || at != watchedPath_) {
            watched_.reset();
            if (!at.empty() && RegOpenKeyExA(root_, at.c_str(), 0, KEY_NOTIFY | view_,
                                             watched_.put()) != ERROR_SUCCESS)
                continue; // gone again
            watchedPath_ = at;
            // Letting go of the last key may have set the event: no change of its own.
            ResetEvent(changed_.get());
        }
        atKey_ = at.size() == path_.size();
        // The key with all below it (the rule lists are keys of their own); a parent only
        // for its keys coming and going.
        const DWORD filter =
            atKey_ ? REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET : REG_NOTIFY_CHANGE_NAME;
        armed_ = changed_ && RegNotifyChangeKeyValue(watched_ ? watched_.get() : root_, atKey_,
                                                     filter, changed_.get(), TRUE) == ERROR_SUCCESS;
        if (!armed_ && watched_) {
            watched_.reset(); // deleted since it was opened
            continue;
        }
        if (atKey_ || !armed_) break;
        // Watch first, look again: the next step down may have been made meanwhile.
        if (!Exists(root_, path_.substr(0, path_.find('\\', at.size() + 1)), view_)) break;
    }
    return atKey_ || wasAtKey;
}

} // namespace helper
