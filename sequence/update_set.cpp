#include "sequence/update_set.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "sequence/update_run.h"

namespace fg {

namespace {

// A driver without slots: the run ends with "cannot initiate" before it touches anything.
constexpr UpdaterOps kNoDriver{};

void RunMember(const FileSelection* selection, SetMember* member, int32_t flags,
               const SetMemberEnded* ended) {
  UpdateRunOptions options;
  options.flags = flags;
  options.updater = member->updater != nullptr ? member->updater : &kNoDriver;
  options.findings = &member->findings;
  member->code = RunUpdate(member->frontEnd, selection, member->payloadPath.c_str(), options);
  if (ended != nullptr) ended->Ended(ended->owner, *member);
}

}  // namespace

void RunUpdateSet(const FileSelection* selection, std::span<SetMember> members, int32_t flags,
                  size_t jobs, const SetMemberEnded* ended) {
  const size_t workers = jobs == 0 ? members.size() : std::min(jobs, members.size());
  // Each worker takes the next member that has not started, until none is left.
  std::atomic<size_t> next{0};
  std::vector<std::thread> threads;
  threads.reserve(workers);
  for (size_t w = 0; w < workers; ++w) {
    threads.emplace_back([&] {
      for (size_t i; (i = next.fetch_add(1)) < members.size();) {
        RunMember(selection, &members[i], flags, ended);
      }
    });
  }
  for (std::thread& t : threads) t.join();
}

}  // namespace fg
