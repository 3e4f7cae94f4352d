#include "elevation_scene.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>
#include <utility>

#include "chunk_loader.h"
#include "diag.h"
#include "elevation_frame.h"
#include "raster_error.h"
#include "world_note.h"

namespace {

// How often a picture of streamed ground looks for chunks that have arrived.
constexpr std::chrono::milliseconds kStreamPoll{5};

ElevationFrameOptions frameOptions(const raster::ViewSettings& settings, int width, int height,
                                   bool wireframe) {
    ElevationFrameOptions frame;
    frame.width = width;
    frame.height = height;
    frame.detail = settings.detail;
    frame.wireframe = wireframe;
    frame.fog = settings.fog;
    return frame;
}

// The field's bilinear height at (x, z), metres as the field holds them; nothing where one of the
// four samples round it is not the source's own or the point lies beyond half a cell outside.
std::optional<double> heldHeightAt(const HeightField& field, double x, double z) {
    const double px = x / field.spacingEast, py = z / field.spacingSouth;
    if (!(px >= -0.5 && py >= -0.5 && px <= field.columns - 0.5 && py <= field.rows - 0.5)) {
        return std::nullopt;
    }
    const double cx = std::clamp(px, 0.0, field.columns - 1.0);
    const double cy = std::clamp(py, 0.0, field.rows - 1.0);
    const int column = std::min(static_cast<int>(std::floor(cx)), field.columns - 2);
    const int row = std::min(static_cast<int>(std::floor(cy)), field.rows - 2);
    for (int r = row; r <= row + 1; ++r) {
        for (int c = column; c <= column + 1; ++c) {
            if (field.kind(c, r) != SampleKind::data) {
                return std::nullopt;
            }
        }
    }
    const double u = cx - column, v = cy - row;
    const double north =
        field.at(column, row) + (field.at(column + 1, row) - field.at(column, row)) * u;
    const double south =
        field.at(column, row + 1) + (field.at(column + 1, row + 1) - field.at(column, row + 1)) * u;
    return north + (south - north) * v;
}

}  // namespace

ElevationScene::ElevationScene(std::unique_ptr<raster::ElevationSource> source,
                               const raster::ViewSettings& settings,
                               const raster::PyramidProgress& progress)
    : source_(std::move(source)), settings_(settings) {
    world_ = raster::loadElevationWorld(*source_, settings.exaggeration, progress);
    note_ = raster::worldNote(*source_, world_);
    if (!world_.stream) {
        source_.reset();  // the reader ends: everything is read
    }
    walker_ = std::make_unique<Walker>(world_.grid.field);
    if (settings.eyeHeight > 0.0) {
        walker_->setEyeHeight(settings.eyeHeight);
    }
    if (const std::string problem =
            raster::placeWalker(*walker_, world_.grid.placement, settings.start);
        !problem.empty()) {
        throw StartRefused(problem);
    }
}

ElevationScene::~ElevationScene() {
    ground_.reset();
    walker_.reset();
    world_ = raster::ElevationWorld{};
    source_.reset();
}

void ElevationScene::makeGround() {
    if (!ground_) {
        ground_ = raster::groundOf(world_);
    }
}

const raster::FullResolutionGround* ElevationScene::streamedGroundUnderWalker() {
    if (!world_.stream) {
        return nullptr;  // the walker's field is the source's
    }
    if (!readoutAt_ || readoutAt_->x != walker_->x() || readoutAt_->z != walker_->z()) {
        const ChunkRecipe& recipe = world_.stream->recipe;
        readoutAt_ = Point3{walker_->x(), 0.0, walker_->z()};
        readout_.cellEast = recipe.layout.cellEast();
        readout_.cellSouth = recipe.layout.cellSouth();
        try {
            readout_.metres = sourceHeightAt(recipe, walker_->x(), walker_->z());
        } catch (const raster::RasterError& error) {
            logError(error.what());
            readout_.metres.reset();
        }
    }
    return &readout_;
}

std::vector<std::string> ElevationScene::drawFrame(int width, int height) {
    const ElevationFrame drawn = drawElevationFrame(
        *ground_, *walker_, frameOptions(settings_, width, height, toggles_.wireframe), &detail_);
    if (!toggles_.readout) {
        return {};
    }
    const raster::SourcePlacement& placement = world_.grid.placement;
    std::vector<std::string> lines = {raster::whereText(
        *walker_, placement, world_.exaggeration, drawn.detailPixels, streamedGroundUnderWalker())};
    if (pick_) {
        lines.push_back(raster::pickText(*pick_, *walker_, placement, world_.exaggeration));
    }
    return lines;
}

void ElevationScene::drawPicture(int width, int height) {
    const ElevationFrameOptions frame = frameOptions(settings_, width, height, false);
    // Streamed ground is drawn again until every chunk the picture wants has arrived (or been
    // refused: a chunk that cannot be read or kept is not waited for).
    drawElevationFrame(*ground_, *walker_, frame);
    while (!ground_->settled()) {
        std::this_thread::sleep_for(kStreamPoll);
        drawElevationFrame(*ground_, *walker_, frame);
    }
}

app::KeyResult ElevationScene::key(unsigned char key) {
    return handleElevationKey(*walker_, toggles_, key);
}

void ElevationScene::arrow(ArrowKey key, bool shift) {
    handleElevationArrow(*walker_, toggles_, key, shift);
}

std::optional<std::string> ElevationScene::pointer(PointerButton button, bool down, bool shift,
                                                   int x, int y, int width, int height) {
    const PointerAction action = down ? pointer_.press(*walker_, button, shift, x, y, width, height)
                                      : pointer_.release(button);
    if (action == PointerAction::clearPick) {
        pick_.reset();
    }
    if (action != PointerAction::pick || !pick(width, height, x + 0.5, y + 0.5)) {
        return std::nullopt;
    }
    return raster::pickLine(*pick_, *walker_, world_.grid.placement, world_.exaggeration);
}

void ElevationScene::drag(int x, int y, int height) {
    pointer_.drag(*walker_, x, y, height);
}

std::optional<raster::Pick> ElevationScene::pick(int width, int height, double px, double py) {
    pick_ = raster::pickAt(*walker_, world_.grid.placement, width, height, px, py);
    if (pick_ && world_.stream) {
        // Found on the walker's thinner field; its height is the source's own.
        raster::Pick& found = *pick_;
        try {
            const std::optional<double> metres =
                sourceHeightAt(world_.stream->recipe, found.point.x, found.point.z);
            found.kind = metres ? SampleKind::data : SampleKind::missing;
            if (metres) {
                found.point.y = *metres * world_.exaggeration;
            }
        } catch (const raster::RasterError& error) {
            logError(error.what());
        }
    }
    return pick_;
}

std::optional<double> ElevationScene::heightAt(double x, double y) const {
    const HeightField& field = world_.grid.field;
    double fieldX = 0.0, fieldZ = 0.0;
    raster::fieldPointAt(world_.grid.placement, field, {x, y}, fieldX, fieldZ);
    if (!std::isfinite(fieldX) || !std::isfinite(fieldZ)) {
        return std::nullopt;
    }
    if (!world_.stream) {
        const std::optional<double> drawn = heldHeightAt(field, fieldX, fieldZ);
        return drawn ? std::optional<double>(*drawn / world_.exaggeration) : std::nullopt;
    }
    const StreamLayout& layout = world_.stream->recipe.layout;
    const double px = layout.pixelX(fieldX), py = layout.pixelY(fieldZ);
    if (!(px >= -0.5 && py >= -0.5 && px <= layout.width() - 0.5 && py <= layout.height() - 0.5)) {
        return std::nullopt;
    }
    return sourceHeightAt(world_.stream->recipe, fieldX, fieldZ);
}

bool ElevationScene::toLatLon(double x, double y, double& lat, double& lon) const {
    return world_.grid.placement.latLon.toLatLon(x, y, lat, lon);
}

bool ElevationScene::fromLatLon(double lat, double lon, double& x, double& y) const {
    return world_.grid.placement.latLon.fromLatLon(lat, lon, x, y);
}
