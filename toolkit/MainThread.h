#pragma once
// Hand-over of calls to the main thread. Other threads queue a call and block until the main
// thread has run it during its message processing; the main thread serves the queue from its
// event loop (through the wake-up hook) or while it waits for something (WaitUntil).
#include <chrono>
#include <functional>
#include <future>
#include <thread>

namespace MainThread {

// Records the calling thread as the main thread. The thread that ran static initialisation is
// bound until someone calls this.
void Bind();
std::thread::id Id();
bool IsMainThread();

// Queues fn for the main thread and returns at once; the future carries fn's end or exception.
std::future<void> Post(std::function<void()> fn);
// Runs fn on the main thread and returns after it has run; fn's exception is rethrown here.
// On the main thread itself fn runs directly. meanwhile, if given, runs on the calling thread
// once fn is queued, while the main thread is being woken for it; it must not throw (fn's
// record lives on this call's frame).
void Send(const std::function<void()>& fn, const std::function<void()>& meanwhile = {});

// Runs every queued call; on any other thread it does nothing. Returns whether any ran.
bool ServePending();

// Called (on the posting thread) whenever a call has been queued, so the event loop can be
// asked to serve it. Empty by default.
void SetWakeUp(std::function<void()> wakeUp);

// Blocks until done() holds. On the main thread queued calls are served meanwhile. done() is
// tested under the queue's lock after every Notify(), so whoever makes it true must call
// Notify() afterwards.
void WaitUntil(const std::function<bool()>& done);
// The same, giving up at deadline: a program without an event loop times its work with it.
// Returns whether done() held.
bool WaitUntil(const std::function<bool()>& done, std::chrono::steady_clock::time_point deadline);
void Notify();

}  // namespace MainThread
