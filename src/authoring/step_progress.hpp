#pragma once
// How a long authoring step tells its caller how far it has got, and learns that it should stop.
#include <functional>

// Called with the share of the step done so far (0..1), from the thread doing the work; answers
// false when the work should stop (the step then returns false as soon as it can). An empty one
// is never called.
using StepProgress = std::function<bool(double done)>;
