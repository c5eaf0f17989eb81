// The speed profile of a parameter set as a list of drawing steps in pixel coordinates.
// The overview strip of the main window paints it, the report exports it as a picture;
// both come from here so they cannot drift apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class ParameterBlock;

struct DrawColor {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const DrawColor&) const = default;
};

inline constexpr DrawColor kDrawBackground{192, 192, 192};
inline constexpr DrawColor kDrawHighlight{255, 255, 255};
inline constexpr DrawColor kDrawProfile{255, 0, 0};
inline constexpr DrawColor kDrawBlack{0, 0, 0};
inline constexpr DrawColor kDrawWhite{255, 255, 255};

// Rectangles follow the GDI rule: left/top inclusive, right/bottom exclusive.
// Lines run from (x1, y1) to (x2, y2), the end point not painted (as LineTo).
struct DrawOp {
    enum class Kind { Fill, Line, Frame };
    Kind kind = Kind::Line;
    int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    DrawColor color;
    bool operator==(const DrawOp&) const = default;
};

using DrawList = std::vector<DrawOp>;

// What the drawing needs of one step record.
struct StepShape {
    uint16_t speed = 0;
    uint8_t controlled = 0;
    uint8_t type = 0; // 0 right, 1 left
    uint8_t nextStep = 0xFF;
};

struct StepDrawContext {
    int machineKind = 18;         // 14 or 18
    double userGearFactor = 1.0;  // userTransmission / 100
    double batteryMaxSpeed = 1.0; // from the catalog
};

struct OverviewInput {
    int width = 0, height = 0;    // client size of the strip
    std::vector<StepShape> steps; // the current set's five steps
    StepDrawContext context;
    int currentSet = 0;      // 0 parameter set 1, 1 parameter set 2
    bool switchOver = false; // modeFlags bit 0
    int activeTab = 0;       // 0 header, 1..5 step pages
};

// The overview strip below the page sheet.
DrawList DrawStepOverview(const OverviewInput& in);

// The tab a click at x (strip coordinates: the strip's left is 0) selects: 1..stepCount.
int OverviewClickTab(int stripWidth, int x, int stepCount = 5);

// The report's picture of a run of steps: white background, no highlight, no ticks.
DrawList DrawStepExport(int width, int height, const std::vector<StepShape>& steps,
                        const StepDrawContext& context);

// Steps first .. first + count - 1 of an image (cut at step 9) as the drawing needs them.
std::vector<StepShape> StepShapes(const ParameterBlock& image, size_t first, size_t count);
