#pragma once

#include "model/StepDrawing.h"

#include <string>
#include <vector>

// Draws the speed profile of a run of steps into a W x H picture and saves it as JPEG at
// path (replacing it; written under a temporary name and renamed, so a reader never sees
// half a picture). The report ignores the result; the CLI reports it.
bool ExportStepGraphic(const std::string& path, int width, int height,
                       const std::vector<StepShape>& steps, const StepDrawContext& context,
                       std::string* error = nullptr);
