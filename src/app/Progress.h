// The progress bar of the progress dialog: bytes done of the run's total
// (files copied, files rebuilt from deltas, at their new sizes), moved by
// the copy worker at most a few times a second. Without a dialog (a very
// silent run, or none could be made) only the count is kept.
#pragma once

#include <cstdint>

// Counts the run's files and bytes in the pack's trees, logs them and sets
// the bar to its start.
void PlanProgress();
// Adds bytes done; the bar moves when a quarter second has passed since it
// last moved. Never past the total (a retried file counts twice).
void AddProgress(uint32_t bytes);
// Moves the bar to where the run ended.
void FinishProgress();
