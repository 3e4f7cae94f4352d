#pragma once
// The viewer's position and gaze, kept in the form gluLookAt takes: an eye point, the point looked
// at and an up vector, all in world units (x and z span the ground, y is up). Turning and moving
// are two capabilities over one shared View; a Camera composes both and holds a single View.

#include "angles.h"

class View {
  public:
    View(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
         double upX, double upY, double upZ);
    virtual ~View() = default;

    // Multiplies the current OpenGL matrix by the look-at matrix of this view.
    void apply() const;

    double eyeX() const { return eye_.x; }
    double eyeY() const { return eye_.y; }
    double eyeZ() const { return eye_.z; }
    double centerX() const { return center_.x; }
    double centerY() const { return center_.y; }
    double centerZ() const { return center_.z; }
    double upX() const { return up_.x; }
    double upY() const { return up_.y; }
    double upZ() const { return up_.z; }

    // Motion changes only these four; the heights and the up vector stay as constructed.
    View& setEyeX(double x);
    View& setEyeZ(double z);
    View& setCenterX(double x);
    View& setCenterZ(double z);

  private:
    struct Point {
        double x, y, z;
    };
    Point eye_;
    Point center_;
    Point up_;
};

// Rotates the look-at point about the eye in the horizontal plane.
class Rotator : public virtual View {
  public:
    Rotator(double eyeX = 0, double eyeY = 0, double eyeZ = 0, double centerX = 1,
            double centerY = 1, double centerZ = 1, double upX = 0, double upY = 1, double upZ = 0);

    // angle in radians; positive turns from +x toward +z, to the viewer's right.
    View* turn(double angle);
};

// Translates eye and look-at point together in the horizontal plane.
class Mover : public virtual View {
  public:
    Mover(double eyeX = 0, double eyeY = 0, double eyeZ = 0, double centerX = 1, double centerY = 1,
          double centerZ = 1, double upX = 0, double upY = 1, double upZ = 0);

    // step in world units; positive goes forward along the horizontal view direction.
    View* move(double step);
    // step in world units, at right angles to the view; positive goes to the viewer's left.
    View* slide(double step);
};

class Camera : public virtual Rotator, public virtual Mover {
  public:
    Camera(double eyeX, double eyeY, double eyeZ, double centerX, double centerY, double centerZ,
           double upX, double upY, double upZ);
};
