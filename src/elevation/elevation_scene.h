#pragma once
// An opened elevation world with one owner, from its reader to its readout: the source, the world
// read from it, the walker over it, the ground drawn of it, the detail carried from frame to
// frame, the pick and the readout's height under the walker. The viewer drives it from GLUT's
// callbacks and groundtool render draws one picture of it; neither assembles these parts itself.
// Places are the source's own coordinates (x easting or longitude, y northing or latitude),
// heights true metres.

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app.h"
#include "auto_detail.h"
#include "drawn_ground.h"
#include "elevation_keys.h"
#include "elevation_pointer.h"
#include "elevation_world.h"
#include "pick.h"
#include "view_settings.h"
#include "walker.h"
#include "where.h"

// A start place outside the data, or latitude and longitude for a source with no coordinate
// system: the user's mistake, one line without the program's name.
class StartRefused : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

class ElevationScene {
  public:
    // Reads source (already open in its reader) with settings' exaggeration, a streamed source's
    // pyramid first where it needs one, progress told meanwhile, and stands the walker where
    // settings start it. Throws raster::RasterError when the source can't be read, StartRefused
    // when the start place is outside the data. A source read whole is let go: its reader ends.
    ElevationScene(std::unique_ptr<raster::ElevationSource> source,
                   const raster::ViewSettings& settings,
                   const raster::PyramidProgress& progress = {});
    ~ElevationScene();
    ElevationScene(const ElevationScene&) = delete;
    ElevationScene& operator=(const ElevationScene&) = delete;

    // What the viewer makes of the source, as groundtool info says it too ("streamed at full
    // resolution, ...; 12 voids filled ..."); empty when it is shown as it is.
    const std::string& note() const { return note_; }

    // Makes the ground from the world read. Needs a current OpenGL context, which must still be
    // current when the scene goes.
    void makeGround();
    bool hasGround() const { return ground_ != nullptr; }
    // Whether the last frame's ground had everything it wanted: streamed ground still arriving
    // draws coarser meanwhile.
    bool settled() const { return ground_ && ground_->settled(); }

    // One frame of a width x height view, the automatic detail carried on from the last frame;
    // the readout's lines, none while it is hidden.
    std::vector<std::string> drawFrame(int width, int height);
    // One picture, drawn again until the ground has settled, automatic detail settled for this
    // view alone.
    void drawPicture(int width, int height);

    // A key or arrow of elevation mode.
    app::KeyResult key(unsigned char key);
    void arrow(ArrowKey key, bool shift);
    // The pointer pressed (down) or released over (x, y) of a width x height view; a click picks
    // the ground there and returns the line for standard output, else nothing.
    std::optional<std::string> pointer(PointerButton button, bool down, bool shift, int x, int y,
                                       int width, int height);
    void drag(int x, int y, int height);

    // The ground under the view's point (px, py), pixels from its top-left corner, its height the
    // source's own at full resolution; nothing over the sky. Becomes the readout's second line.
    std::optional<raster::Pick> pick(int width, int height, double px, double py);

    // The source's height at (x, y) in true metres at full resolution, whether held whole or
    // streamed: bilinear between the four samples round it, the edge's beyond the outer
    // samples; nothing where one of them has no data or the place is outside the data. Throws
    // raster::RasterError when a streamed read fails.
    std::optional<double> heightAt(double x, double y) const;
    // Degrees of WGS 84 to and from the source's coordinates; false where there is no way.
    bool toLatLon(double x, double y, double& lat, double& lon) const;
    bool fromLatLon(double lat, double lon, double& x, double& y) const;

    const Walker& walker() const { return *walker_; }
    const raster::ElevationWorld& world() const { return world_; }

  private:
    const raster::FullResolutionGround* streamedGroundUnderWalker();

    // Destroyed in the reverse of this order, which the destructor spells out: the ground first,
    // as its loader thread reads through the source and the world's stream plan, and its OpenGL
    // objects go while the context is current; then the walker, which walks over the world's
    // field; then the world; the source's reader last.
    std::unique_ptr<raster::ElevationSource> source_;  // for streamed ground only
    raster::ElevationWorld world_;
    std::unique_ptr<Walker> walker_;
    std::unique_ptr<DrawnGround> ground_;

    std::string note_;
    raster::ViewSettings settings_;
    AutoDetail detail_;
    ElevationToggles toggles_;
    ElevationPointer pointer_;
    std::optional<raster::Pick> pick_;  // the readout's second line while there is one
    // Streamed ground: the source's own height where the readout last read it.
    std::optional<Point3> readoutAt_;
    raster::FullResolutionGround readout_;
};
