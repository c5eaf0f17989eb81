#include "model/StepDrawing.h"

#include "model/ParameterBlock.h"

#include <algorithm>

namespace {

// A pen that remembers its position, as the drawing is described with move-to/line-to.
class Pen {
public:
    explicit Pen(DrawList& out) : out_(out) {}
    void MoveTo(int x, int y) {
        x_ = x;
        y_ = y;
    }
    void LineTo(int x, int y) {
        out_.push_back({DrawOp::Kind::Line, x_, y_, x, y, color});
        x_ = x;
        y_ = y;
    }
    DrawColor color = kDrawBlack;

private:
    DrawList& out_;
    int x_ = 0, y_ = 0;
};

// The profile height of one step before it is turned into a y coordinate.
int StepLevel(const StepShape& s, const StepDrawContext& c, int maxVal) {
    double factor = c.userGearFactor;
    if (!(factor > 0))
        factor = 1.0; // a zero factor would divide by zero; the pages never store one below 0.01
    long long u = static_cast<long long>(s.speed / factor);
    if (c.machineKind == 18 && s.controlled && u > 0 && c.batteryMaxSpeed > 0)
        u = static_cast<long long>(3.41e9 / static_cast<double>(u) / c.batteryMaxSpeed);
    return static_cast<int>(std::clamp<long long>(u, -maxVal, maxVal));
}

int StepY(int type, int u, int mid, int maxVal) {
    double d = static_cast<double>(u) * mid / (maxVal * 1.05);
    if (type == 0)
        return static_cast<int>(mid - d);
    if (type == 1)
        return static_cast<int>(mid + d);
    return mid;
}

} // namespace

DrawList DrawStepOverview(const OverviewInput& in) {
    DrawList out;
    const int W = in.width, H = in.height;
    out.push_back({DrawOp::Kind::Fill, 0, 0, W, H, kDrawBackground});

    const int xEnd = W - 10;
    const int mid = H / 2;
    Pen pen(out);
    pen.MoveTo(10, mid);
    pen.LineTo(xEnd, mid);

    const int stepCount = static_cast<int>(in.steps.size());
    const int segW = (W - 10) / 5;
    int x = 10, slope = 10, prevU = 0, prevY = mid;
    const int maxVal = in.context.machineKind == 14 ? 255 : 1023;
    pen.color = kDrawProfile;

    int i = 0;
    bool jumped = false;
    while (i < stepCount) {
        const StepShape& s = in.steps[i];
        if (in.activeTab == i + 1)
            out.push_back({DrawOp::Kind::Fill, x, 0, x + segW, H, kDrawHighlight});
        int u = StepLevel(s, in.context, maxVal);
        if (i > 0) {
            slope = prevU < u ? 10 : 0;
            if (s.type != in.steps[i - 1].type) {
                pen.LineTo(x, mid);
                prevY = mid;
                slope = 10;
            }
        }
        int y = StepY(s.type, u, mid, maxVal);
        pen.LineTo(x, prevY);
        pen.LineTo(x + slope, y);
        pen.LineTo(x + segW, y);
        x += segW;
        prevU = u;
        prevY = y;
        if (s.nextStep == 0xFF) {
            // Set 2 of a switch-over program carries on after its end at its step 2. Only a
            // jump forward is taken: restarting at 2 from a later step would never end.
            if (in.currentSet == 1 && in.switchOver && i < stepCount - 1 && i < 2 && !jumped) {
                pen.LineTo(x, mid);
                jumped = true;
                i = 2;
                x = 2 * segW + 10;
                prevU = 0;
                prevY = mid;
                pen.LineTo(x, mid);
                continue;
            }
            break;
        }
        ++i;
    }

    if (i < 4) {
        out.push_back({DrawOp::Kind::Fill, x, 0, x + (W - x + 1), H, kDrawBackground});
        const int t = in.activeTab;
        if (i + 1 < t && t < 6)
            out.push_back(
                {DrawOp::Kind::Frame, (t - 1) * segW + 11, 0, t * segW + 11, H, kDrawBlack});
    }
    pen.LineTo(x, mid);
    pen.color = kDrawBlack;
    pen.MoveTo(10, mid);
    pen.LineTo(x, mid);

    for (int j = 1; j <= 4; ++j) {
        pen.MoveTo(10 + j * segW, H);
        pen.LineTo(10 + j * segW, H - 4);
    }
    return out;
}

int OverviewClickTab(int stripWidth, int x, int stepCount) {
    const int segW = (stripWidth - 10) / 5;
    int edge = segW + 10, k = 1;
    while (k < stepCount && x >= edge) {
        edge += segW;
        ++k;
    }
    return k;
}

DrawList DrawStepExport(int width, int height, const std::vector<StepShape>& steps,
                        const StepDrawContext& context) {
    DrawList out;
    const int W = width, H = height;
    out.push_back({DrawOp::Kind::Fill, 0, 0, W, H, kDrawWhite});
    const int mid = H / 2, right = W - 10, seg = right / 7;
    const int scale = context.machineKind == 14 ? 255 : 1023;

    Pen pen(out);
    pen.MoveTo(10, mid);
    pen.LineTo(right, mid);
    pen.color = kDrawProfile;
    int x = 10, lastY = mid, rampDx = 10, lastSpeed = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        const StepShape& s = steps[i];
        int v = StepLevel(s, context, scale);
        if (i > 0) {
            rampDx = lastSpeed < v ? 10 : 0;
            if (s.type != steps[i - 1].type) {
                pen.LineTo(x, mid);
                lastY = mid;
                rampDx = 10;
            }
        }
        int y = StepY(s.type, v, mid, scale);
        pen.LineTo(x, lastY);
        pen.LineTo(x + rampDx, y);
        x += seg;
        pen.LineTo(x, y);
        lastSpeed = v;
        lastY = y;
        if (s.nextStep == 0xFF)
            break;
    }
    pen.color = kDrawBlack;
    pen.LineTo(x, mid);
    pen.MoveTo(10, mid);
    pen.LineTo(x, mid);
    return out;
}

std::vector<StepShape> StepShapes(const ParameterBlock& image, size_t first, size_t count) {
    std::vector<StepShape> out;
    for (size_t i = first; i < first + count && i < ParameterBlock::kStepCount; ++i) {
        const StepRecordView s = image.Step(i);
        out.push_back({s.Speed(), s.Controlled(), s.Type(), s.NextStep()});
    }
    return out;
}
