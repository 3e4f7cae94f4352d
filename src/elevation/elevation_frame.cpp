#include "elevation_frame.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app.h"
#include "option_values.h"

namespace {

// The near plane sits at this share of the room the eye has: closer ground is not there.
constexpr double kNearShareOfRoom = 0.25;
// The far plane this much beyond the farthest corner, so no corner is ever clipped.
constexpr double kFarMargin = 1.05;

// The distance from eye to the farthest corner of the ground's box.
double farthestCorner(const Point3& eye, const Walker& walker, const DrawnGround& ground) {
    const double xs[2] = {0.0, walker.field().width()};
    const double ys[2] = {ground.lowestHeight(), ground.highestHeight()};
    const double zs[2] = {0.0, walker.field().depth()};
    double farthest = 0;
    for (double x : xs) {
        for (double y : ys) {
            for (double z : zs) {
                farthest = std::max(farthest, std::hypot(x - eye.x, y - eye.y, z - eye.z));
            }
        }
    }
    return farthest;
}

// Four rectangles round the field, at the ground's lowest height, reaching reach metres beyond
// each edge; the field itself is left to the ground, so ground without data stays undrawn.
void drawOutsidePlain(const Walker& walker, const DrawnGround& ground, double reach) {
    const double w = walker.field().width(), d = walker.field().depth();
    const double y = ground.lowestHeight();
    const double rectangles[4][4] = {{-reach, -reach, w + reach, 0.0},  // x0 z0 x1 z1: north
                                     {-reach, d, w + reach, d + reach},
                                     {-reach, 0.0, 0.0, d},
                                     {w, 0.0, w + reach, d}};
    glColor3fv(kOutsidePlainRgb);
    glBegin(GL_QUADS);
    for (const auto& r : rectangles) {
        glVertex3d(r[0], y, r[1]);
        glVertex3d(r[0], y, r[3]);
        glVertex3d(r[2], y, r[3]);
        glVertex3d(r[2], y, r[1]);
    }
    glEnd();
}

}  // namespace

double automaticFogDensity(const Walker& walker, const DrawnGround& ground) {
    Walker start = walker;
    start.restart();
    return -std::log(kFarEdgeColourShare) / farthestCorner(start.eye(), start, ground);
}

ClipDistances clipDistances(const Walker& walker, const DrawnGround& ground) {
    const double room = std::min(walker.clearance(), walker.stepMetres());
    const double nearPlane = std::max(kNearestNearPlaneMetres, kNearShareOfRoom * room);
    const double farPlane = kFarMargin * farthestCorner(walker.eye(), walker, ground);
    return {nearPlane, std::max(farPlane, 2 * nearPlane)};
}

ElevationFrame drawElevationFrame(DrawnGround& ground, const Walker& walker,
                                  const ElevationFrameOptions& options, AutoDetail* governor) {
    const int width = std::max(1, options.width), height = std::max(1, options.height);
    glViewport(0, 0, width, height);
    glDisable(GL_SCISSOR_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glDepthMask(GL_TRUE);
    glClearColor(app::kSkyRed, app::kSkyGreen, app::kSkyBlue, 0.0f);
    glClearDepth(1.0);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);

    const ClipDistances clip = clipDistances(walker, ground);
    glMatrixMode(GL_TEXTURE);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(kElevationFieldOfViewDegrees, static_cast<double>(width) / height,
                   clip.nearPlane, clip.farPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    const Point3 eye = walker.eye(), centre = walker.lookAt();
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, 0.0, 1.0, 0.0);

    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_STENCIL_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glDisable(GL_LINE_SMOOTH);
    glDisable(GL_POLYGON_SMOOTH);
    glLineWidth(1.0f);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    if (options.fog.mode == FogChoice::Mode::Off) {
        glDisable(GL_FOG);
    } else {
        const double density = options.fog.mode == FogChoice::Mode::Density
                                   ? options.fog.densityPerMetre
                                   : automaticFogDensity(walker, ground);
        const GLfloat colour[4] = {app::kSkyRed, app::kSkyGreen, app::kSkyBlue, 1.0f};
        glEnable(GL_FOG);
        glFogi(GL_FOG_MODE, GL_EXP);
        glFogfv(GL_FOG_COLOR, colour);
        glFogf(GL_FOG_DENSITY, static_cast<GLfloat>(density));
        glHint(GL_FOG_HINT, GL_NICEST);
    }
    LodDrawSettings settings{eye, options.detail.pixels, options.wireframe};
    ElevationFrame frame;
    if (!options.detail.automatic) {
        frame.stats = ground.choose(settings);
    } else if (governor) {
        frame.stats = governor->choose(ground, settings);
    } else {
        AutoDetail fresh;
        frame.stats = fresh.settle(ground, settings);
    }
    frame.detailPixels = settings.detailPixels;
    ground.drawChosen(settings);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    drawOutsidePlain(walker, ground, clip.farPlane);
    return frame;
}
