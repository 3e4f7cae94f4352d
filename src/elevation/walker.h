#pragma once
// The elevation camera: someone walking over a height field, eyes a set height above the ground,
// heading and stepping the way the classic keys move the classic camera. Pure arithmetic over the
// field, so it is tested without OpenGL. Distances are metres, angles radians.

#include <string>

#include "angles.h"
#include "height_field.h"

// Throws std::invalid_argument when the field has a fault (HeightField::fault).
void requireUsableField(const HeightField& field);

// The ground at (x, z), interpolated bilinearly between the four samples around it; points off
// the field take the nearest edge.
double groundHeightAt(const HeightField& field, double x, double z);
// The highest sample whose column and row lie within radius of (x, z) along each axis.
double highestSampleNear(const HeightField& field, double x, double z, double radius);

struct Point3 {
    double x, y, z;
};

class Walker {
  public:
    static constexpr double kTurnRadians = 7.5 * kRadiansPerDegree;
    static constexpr double kStartPitchDegrees = -10.0;  // below the horizon
    static constexpr double kStartPitchRadians = kStartPitchDegrees * kRadiansPerDegree;
    static constexpr double kPitchStepDegrees = 5.0;  // one pitch up or down
    // Up or down no further: looking straight down the heading would be lost.
    static constexpr double kPitchLimitDegrees = 80.0;
    static constexpr double kEyeHeightShareOfSide = 0.02;  // of the field's longer side
    static constexpr double kStepShareOfSide = 1.0 / 200.0;
    static constexpr double kStartInsetShare = 0.05;  // of the depth, in from the south edge
    static constexpr double kEyeHeightFactor = 1.25;  // one raise or lower
    static constexpr double kLowestEyeMetres = 1.0;
    static constexpr double kLookDistanceMetres = 100.0;  // eye to look-at point
    static constexpr double kSmallestStepMetres = 0.1;
    // The eye keeps at least this much above every sample within one step: a share of the eye
    // height, never under the floor.
    static constexpr double kNearbyMarginShare = 0.05;
    static constexpr double kNearbyMarginFloorMetres = 0.5;

    // At the start: the middle of the south edge, inset (or the ground nearest it, northward up
    // that column first, where the field has no data there), facing north, looking slightly down.
    // The field must outlive the walker.
    explicit Walker(const HeightField& field);

    // Back at the start, with the starting eye height and step.
    void restart();

    // Puts the eye over (x, z), clamped to the field, with the given heading; pitch, eye height
    // and step stay.
    void placeAt(double x, double z, double headingRadians);

    // steps steps along the heading (steps > 0) or back; the field's edge stops it.
    void walk(double steps);
    // steps steps at right angles to the heading: steps > 0 to the right.
    void sideStep(double steps);
    // A turn of kTurnRadians: sign > 0 to the right, clockwise seen from above.
    void turn(int sign);
    // kPitchStepDegrees up (sign > 0) or down, within kPitchLimitDegrees.
    void pitch(int sign);
    void setPitch(double radians);  // held within kPitchLimitDegrees; 0 level, > 0 up
    // Turns right by headingRadians and up by pitchRadians where the eye stands.
    void lookAround(double headingRadians, double pitchRadians);
    // Swings the eye round pivot, turning right by turnRadians about the vertical through it
    // and up by tiltRadians over it, its distance kept, and looks at it; the ground and the edges
    // stop the eye as they stop a walk.
    void orbit(const Point3& pivot, double turnRadians, double tiltRadians);
    void raiseEye();
    void lowerEye();
    void setEyeHeight(double metres);  // not below kLowestEyeMetres
    void halveStep();
    void doubleStep();

    const HeightField& field() const { return field_; }
    double x() const { return x_; }
    double z() const { return z_; }
    double headingRadians() const { return heading_; }  // 0 north, pi / 2 east
    double pitchRadians() const { return pitch_; }
    double eyeHeight() const { return eyeHeight_; }  // wanted, above the ground
    double stepMetres() const { return step_; }
    double groundY() const { return ground_; }  // bilinear, under the eye
    Point3 eye() const { return {x_, eyeY_, z_}; }
    Point3 lookAt() const;
    // How far the eye is above the highest sample within one step: the ground comes no nearer.
    double clearance() const { return eyeY_ - highestNearby_; }

  private:
    void settle();  // re-takes the ground and the eye's height under (x_, z_)

    const HeightField& field_;
    double x_ = 0, z_ = 0;
    double heading_ = 0;
    double pitch_ = kStartPitchRadians;
    double eyeHeight_ = 1;
    double step_ = 1;
    double ground_ = 0;
    double highestNearby_ = 0;
    double eyeY_ = 0;
};

// "NE 047 deg": the nearest of the eight compass points and the heading in whole degrees, in
// plain ASCII so any bitmap font draws it.
std::string compassBearing(double headingRadians);
