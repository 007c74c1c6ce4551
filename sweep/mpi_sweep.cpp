#include "sweep/mpi_sweep.h"

#include <mpi.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mas {
namespace {

constexpr int kTagRow = 1;   // worker -> rank 0: a row, or an empty request at the start
constexpr int kTagWork = 2;  // rank 0 -> worker: the next run index, or -1 to stop

long long IndexOfRow(const std::string& line) {
  long long index = -1;
  std::from_chars(line.data(), line.data() + line.size(), index);
  return index;
}

long long ReceiveIndex() {
  long long index = -1;
  MPI_Recv(&index, 1, MPI_LONG_LONG, 0, kTagWork, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  return index;
}

void SendRow(const std::string& row) {
  MPI_Send(row.data(), static_cast<int>(row.size()), MPI_CHAR, 0, kTagRow, MPI_COMM_WORLD);
}

// A rank other than 0. It holds one run in reserve: rank 0 answers the first request
// with two runs and every row with one more, and the answer to a row is awaited only
// after the next run, so the rank never waits for rank 0 between runs. After a -1 every
// answer is -1.
void Worker(const SweepRunner& runner) {
  SendRow({});
  std::deque<long long> queue{ReceiveIndex(), ReceiveIndex()};
  MPI_Request request = MPI_REQUEST_NULL;
  long long answer = -1;
  while (queue.front() >= 0) {
    const long long index = queue.front();
    queue.pop_front();
    const std::string row = runner.Run(index).line;
    if (request != MPI_REQUEST_NULL) {
      MPI_Wait(&request, MPI_STATUS_IGNORE);
      queue.push_back(answer);
    }
    SendRow(row);
    MPI_Irecv(&answer, 1, MPI_LONG_LONG, 0, kTagWork, MPI_COMM_WORLD, &request);
    if (queue.empty()) {
      MPI_Wait(&request, MPI_STATUS_IGNORE);
      queue.push_back(answer);
    }
  }
  if (request != MPI_REQUEST_NULL) MPI_Wait(&request, MPI_STATUS_IGNORE);
}

bool Dispatch(const MpiEnvironment& mpi, const SweepRunner& runner, std::span<const long long> runs,
              const RowSink& deliver, const StopRequest& stop_requested) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::deque<SweepRow> local_rows;  // guarded by mutex
  std::exception_ptr local_error;   // guarded by mutex
  std::atomic<bool> local_done{false};
  bool complete = true;

  auto take = [&]() -> long long {
    if (stop.load()) return -1;
    const std::size_t k = next.fetch_add(1);
    return k < runs.size() ? runs[k] : -1;
  };

  // Rank 0's own share of the runs, on a thread that makes no MPI call.
  std::jthread local([&]() {
    try {
      for (long long index = take(); index >= 0; index = take()) {
        SweepRow row = runner.Run(index, &stop);
        std::lock_guard lock(mutex);
        local_rows.push_back(std::move(row));
      }
    } catch (...) {
      std::lock_guard lock(mutex);
      local_error = std::current_exception();
      stop.store(true);
    }
    local_done.store(true);
  });

  // Per rank: runs handed out and rows received; a rank is done once it was sent -1 and
  // every run it was given came back.
  struct Remote {
    long long given = 0;
    long long returned = 0;
    bool stopped = false;
  };
  std::vector<Remote> remotes(static_cast<std::size_t>(mpi.size()));
  int remote_left = mpi.size() - 1;
  auto hand_out = [&](int rank) {
    Remote& r = remotes[static_cast<std::size_t>(rank)];
    long long index = r.stopped ? -1 : take();
    MPI_Send(&index, 1, MPI_LONG_LONG, rank, kTagWork, MPI_COMM_WORLD);
    if (index >= 0) {
      ++r.given;
    } else {
      r.stopped = true;
    }
  };
  auto finished = [&](int rank) {
    const Remote& r = remotes[static_cast<std::size_t>(rank)];
    return r.stopped && r.returned == r.given;
  };

  std::string buffer;
  auto deliver_local = [&]() {
    std::unique_lock lock(mutex);
    while (!local_rows.empty()) {
      SweepRow row = std::move(local_rows.front());
      local_rows.pop_front();
      lock.unlock();
      if (row.interrupted) complete = false;
      deliver(row);
      lock.lock();
    }
  };
  auto last_poll = std::chrono::steady_clock::now();
  while (true) {
    deliver_local();
    if (remote_left == 0 && local_done.load()) break;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_poll > std::chrono::milliseconds(50)) {
      last_poll = now;
      if (!stop.load() && stop_requested && stop_requested()) stop.store(true);
    }
    int arrived = 0;
    MPI_Status status;
    if (remote_left > 0) MPI_Iprobe(MPI_ANY_SOURCE, kTagRow, MPI_COMM_WORLD, &arrived, &status);
    if (arrived == 0) {
      // Nothing to answer (the ranks hold a run in reserve): leave the core to the runs.
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      continue;
    }
    int length = 0;
    MPI_Get_count(&status, MPI_CHAR, &length);
    buffer.resize(static_cast<std::size_t>(length));
    const int rank = status.MPI_SOURCE;
    MPI_Recv(buffer.data(), length, MPI_CHAR, rank, kTagRow, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    if (buffer.empty()) {
      // The first request: two runs, one to run and one in reserve.
      hand_out(rank);
      hand_out(rank);
    } else {
      ++remotes[static_cast<std::size_t>(rank)].returned;
      hand_out(rank);
      SweepRow row;
      row.index = IndexOfRow(buffer);
      row.line = buffer;
      deliver(row);
    }
    if (finished(rank)) --remote_left;
  }
  local.join();
  if (local_error) std::rethrow_exception(local_error);
  return complete && next.load() >= runs.size() && !stop.load();
}

}  // namespace

MpiEnvironment::MpiEnvironment() {
  int initialized = 0;
  MPI_Initialized(&initialized);
  if (initialized == 0) {
    int provided = 0;
    MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
    finalize_ = true;
  }
  MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
  MPI_Comm_size(MPI_COMM_WORLD, &size_);
}

MpiEnvironment::~MpiEnvironment() {
  if (finalize_) MPI_Finalize();
}

int MpiEnvironment::MaxOverRanks(int value) const {
  int result = value;
  MPI_Allreduce(&value, &result, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return result;
}

bool RunOverMpi(const MpiEnvironment& mpi, const SweepRunner& runner,
                std::span<const long long> runs, const RowSink& deliver,
                const StopRequest& stop_requested) {
  if (mpi.rank() != 0) {
    Worker(runner);
    return true;
  }
  // Alone, rank 0 is a local run on one thread.
  if (mpi.size() == 1) return RunOnThreads(runner, runs, 1, deliver, stop_requested);
  return Dispatch(mpi, runner, runs, deliver, stop_requested);
}

}  // namespace mas
