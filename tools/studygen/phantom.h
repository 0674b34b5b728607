#pragma once
// The synthetic patient every generated CT and MR image is cut from.
//
// Values are Hounsfield units at a point of patient space (millimetres, DICOM
// patient axes: x to the patient's left, y to the posterior, z to the head).
// The body is an elliptic cylinder of water along z; three rods of known value
// run its whole length, so that any axial slice shows them as circles of
// exactly that value; a bone sphere makes coronal and sagittal cuts
// interesting; a bar of alternating blocks every 10 mm reads like a ruler.

#include <cmath>
#include <vector>

namespace studygen {

struct Rod
{
    const char *name;
    double x, y, radius; // centre and radius in mm, axis along z
    int hu;
};

struct Phantom
{
    static constexpr int kAir = -1000;
    static constexpr int kWater = 0;
    static constexpr double kBodyA = 180.0; // half width along x
    static constexpr double kBodyB = 130.0; // half height along y
    static constexpr double kBodyZMin = -200.0;
    static constexpr double kBodyZMax = 120.0;
    static constexpr double kSphereX = 70.0, kSphereY = -30.0, kSphereZ = -40.0, kSphereR = 30.0;
    static constexpr int kBone = 1000;
    static constexpr double kBarY0 = 95.0, kBarY1 = 105.0, kBarX0 = -100.0, kBarX1 = 100.0;

    static const std::vector<Rod> &rods()
    {
        static const std::vector<Rod> r = {
            {"fat", -80.0, 0.0, 25.0, -100},
            {"contrast", 0.0, -60.0, 30.0, 200},
            {"muscle", 80.0, 40.0, 20.0, 50},
        };
        return r;
    }

    static int hu(double x, double y, double z)
    {
        if (z < kBodyZMin || z > kBodyZMax)
            return kAir;
        const double e = (x * x) / (kBodyA * kBodyA) + (y * y) / (kBodyB * kBodyB);
        if (e > 1.0)
            return kAir;
        const double dx = x - kSphereX, dy = y - kSphereY, dz = z - kSphereZ;
        if (dx * dx + dy * dy + dz * dz <= kSphereR * kSphereR)
            return kBone;
        for (const Rod &r : rods()) {
            const double rx = x - r.x, ry = y - r.y;
            if (rx * rx + ry * ry <= r.radius * r.radius)
                return r.hu;
        }
        if (y >= kBarY0 && y <= kBarY1 && x >= kBarX0 && x < kBarX1) {
            // Blocks of 10 mm, bone and water in turn.
            const int block = static_cast<int>(std::floor((x - kBarX0) / 10.0));
            return (block % 2 == 0) ? kBone : kWater;
        }
        return kWater;
    }
};

} // namespace studygen
