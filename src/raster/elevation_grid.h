#pragma once
// An elevation raster read whole for the viewer to walk over: every sample up to 4097 a side,
// heights in metres, north along -z, east along +x, small voids filled, larger regions without
// data marked as sea or as missing, and where each sample lies in the source.

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "elevation_source.h"
#include "field_layout.h"
#include "height_field.h"
#include "lat_lon.h"
#include "relief_colours.h"

namespace raster {

// Where the field's samples lie in the source, to say where a point of the field is.
struct SourcePlacement {
    double originX = 0.0;  // source coordinates of sample (0, 0), the north-west sample
    double originY = 0.0;
    double stepX = 1.0;  // source units per sample along +x (east)
    double stepY = 1.0;  // and along +z (south): negative for a northing
    bool geographic = false;
    std::string crsName;  // "WGS 84", "WGS 84 / UTM zone 32N"; empty when the source has none
    LatLon latLon;        // to and from degrees; unusable when GDAL cannot transform
};

// What became of the source's missing samples.
struct NoDataSummary {
    long long dataSamples = 0;     // heights from the source
    long long filledSamples = 0;   // in small voids, filled smoothly
    long long seaSamples = 0;      // in regions that reach sea level, drawn as water
    long long missingSamples = 0;  // in other regions, drawn as nothing
    int voidsFilled = 0;
    int seaRegions = 0;
    int missingRegions = 0;
};

// A void at most this many samples across and along is filled; a larger region stays without data.
constexpr int kLargestFilledVoid = 64;
// A region reaches sea level when the lowest twentieth of the heights along its shore lie within
// this many metres of 0 on average.
constexpr double kSeaLevelMetres = 5.0;
constexpr double kShoreShare = 0.05;

struct ElevationGrid {
    HeightField field;
    SourcePlacement placement;
    NoDataSummary noData;
    // What became of the source on the way, for the user: "averaged down from 8000 x 8000 to
    // 4096 x 4096 samples; 12 voids filled (0.1% of the samples); 1 region without data (40%)
    // drawn as sea". Empty when nothing did.
    std::string note;
};

// What became of the missing samples of all the samples read: "12 voids filled (0.1% of the
// samples); 1 region without data (40%) drawn as sea"; empty when none was missing.
std::string noDataNote(const NoDataSummary& noData, std::size_t all);
// A note's parts, the empty ones left out, joined with "; ".
std::string joinedNote(const std::vector<std::string>& parts);

constexpr long long kDefaultMaxSamples = 16'800'000;
constexpr int kDefaultMaxSide = 4097;

// Reads the raster at path, opened in its jailed reader (elevation_source.h), at its own
// resolution when that fits maxSamples and maxSide on each side, otherwise averaged down to the
// largest grid that does. Heights in feet, US survey feet, mm, cm, dm or km become metres, and any
// other unit counts as metres, said in the note; a source placed nowhere keeps its units for both.
// Missing heights (nodata, NaN, infinite, an SRTM void, an undeclared float void, the corners a
// rotated source leaves) are filled in voids up to kLargestFilledVoid across and along; larger
// regions stay without data, as sea where they reach sea level. Throws RasterError on one line for
// any source that cannot be read or has no valid height.
ElevationGrid readElevation(const ElevationSource& source,
                            long long maxSamples = kDefaultMaxSamples,
                            int maxSide = kDefaultMaxSide);
ElevationGrid readElevation(const std::string& path, long long maxSamples = kDefaultMaxSamples,
                            int maxSide = kDefaultMaxSide);
// The same over window alone, whole source pixels 2 or more each way inside the source.
ElevationGrid readElevation(const ElevationSource& source, const SourceWindow& window,
                            long long maxSamples = kDefaultMaxSamples,
                            int maxSide = kDefaultMaxSide);

// The samples of layout, read and classified as above, without a note; a grid with no valid
// height comes back as it is, noData.dataSamples 0. Throws RasterError when the read fails.
ElevationGrid readElevation(const ElevationSource& source, const FieldLayout& layout);

// The relief (hillshade times a height tint, as groundtool import draws) of field, shaded from
// its own float heights and tinted by true height over the samples it draws, at longerSide
// texels on the field's longer side, texels square on the ground; texel centres span the field
// from its first sample to its last.
GroundImage reliefImage(const HeightField& field, int longerSide);
// The same at any size: texels need not be square on the ground.
GroundImage reliefImage(const HeightField& field, int width, int height);
// The same with the tint spanning range, in true metres, rather than the field's own heights:
// pieces of one terrain tinted alike.
GroundImage reliefImage(const HeightField& field, int width, int height, HeightRange range);
// The size reliefImage gives for longerSide: texels square on the ground.
std::pair<int, int> reliefImageSize(const HeightField& field, int longerSide);

}  // namespace raster
