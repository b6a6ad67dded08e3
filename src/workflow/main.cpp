// Tintsmith: a colour chart photo in, a 3D LUT out. Takes no arguments.
#include "workflow/workflow.hpp"

int main() { return tintsmith::runCalibration(); }
