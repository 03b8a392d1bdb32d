// Script tasks, mutexes and condition variables: the task table, the
// built-ins that create, join and synchronise tasks, and the end of a run,
// which waits for every task still running.
#pragma once
#include <cstdint>

struct krvEnv_t;

// Makes the task table (numbers start at 2) when it does not exist yet.
// false when out of memory.
bool krvTaskInit(void);

// Called when main has ended: waits until every task that is still running
// has ended, then releases the tasks that were never joined. Later
// task_join calls find nothing.
void krvTaskEndOfRun(void);

// Final release when the interpreter's tables are freed: ends the run as
// above and frees every mutex and condition block scripts left behind.
void krvTaskFreeAll(void);
