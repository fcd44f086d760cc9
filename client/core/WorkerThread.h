#pragma once

#include <thread>

namespace ondavox::client {

// One worker thread of the client's network core: the object is built with its fields, then
// Start() runs InitInstance, Run when InitInstance succeeded, and ExitInstance, on a thread of its
// own. Ending is cooperative: the subclass offers a way to make its thread return, and whoever
// owns the object joins it with Join() before destroying it.
//
// Start and Join: any thread but the worker's own, never both at once (the owner serialises
// them). OnItsThread: any thread.
class WorkerThread {
 public:
  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  // The thread must have been joined (or never started).
  virtual ~WorkerThread();

  void Start();
  // Waits for the thread to end; does nothing when it was never started or is already joined.
  void Join();
  // True when called on this object's thread.
  bool OnItsThread() const;

 protected:
  virtual bool InitInstance() = 0;
  virtual int Run() = 0;
  virtual int ExitInstance() = 0;

 private:
  void Body();

  std::thread thread_;
};

}  // namespace ondavox::client
