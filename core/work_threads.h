// The number of threads for the work on large models.
#pragma once

// One thread per core the system reports, and 1 when it reports none.
int CountWorkThreads();
