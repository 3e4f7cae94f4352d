#include "export_mesh.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "tool_error.h"

namespace groundtool {

namespace {

// The perimeter of a tile as top-vertex indices, once round: east along the north edge, south
// along the east edge, west along the south edge, north along the west edge. Walking it one way
// all round is what lets every wall and underside facet share one winding rule.
std::vector<std::uint32_t> perimeter(int columns, int rows) {
    std::vector<std::uint32_t> ring;
    ring.reserve(2 * static_cast<std::size_t>(columns - 1) +
                 2 * static_cast<std::size_t>(rows - 1));
    const auto index = [columns](int column, int row) {
        return static_cast<std::uint32_t>(static_cast<std::size_t>(row) * columns + column);
    };
    for (int column = 0; column < columns - 1; ++column) {
        ring.push_back(index(column, 0));
    }
    for (int row = 0; row < rows - 1; ++row) {
        ring.push_back(index(columns - 1, row));
    }
    for (int column = columns - 1; column > 0; --column) {
        ring.push_back(index(column, rows - 1));
    }
    for (int row = rows - 1; row > 0; --row) {
        ring.push_back(index(0, row));
    }
    return ring;
}

// One output sample's share of the source samples along one axis: the source samples from first
// on, each weighted by how much of its cell the output sample's cell covers.
struct BoxTaps {
    int first = 0;
    std::vector<double> weights;  // summing to 1
};

std::vector<BoxTaps> boxTaps(int sourceCount, int outputCount) {
    std::vector<BoxTaps> taps(static_cast<std::size_t>(outputCount));
    const double step = static_cast<double>(sourceCount - 1) / (outputCount - 1);
    for (int k = 0; k < outputCount; ++k) {
        const double low = std::max(k * step - step / 2.0, -0.5);
        const double high = std::min(k * step + step / 2.0, sourceCount - 0.5);
        const int first = static_cast<int>(std::floor(low + 0.5));
        const int last = std::min(static_cast<int>(std::ceil(high - 0.5)), sourceCount - 1);
        BoxTaps& tap = taps[static_cast<std::size_t>(k)];
        tap.first = first;
        double total = 0.0;
        for (int i = first; i <= last; ++i) {
            const double overlap = std::min(high, i + 0.5) - std::max(low, i - 0.5);
            tap.weights.push_back(std::max(overlap, 0.0));
            total += tap.weights.back();
        }
        for (double& weight : tap.weights) {
            weight /= total;
        }
    }
    return taps;
}

// Smooth normals: each face's (area-weighted) normal summed into its corners, then made unit
// length. Wall corners average their two walls; the underside faces straight down.
void smoothNormals(SolidMesh& mesh) {
    const std::size_t vertexCount = mesh.vertexCount();
    const std::vector<std::uint32_t>& out = mesh.triangles;
    mesh.normals.assign(vertexCount * 3, 0.0f);
    std::vector<double> sums(vertexCount * 3, 0.0);
    for (std::size_t facet = 0; facet < mesh.triangleCount(); ++facet) {
        const std::uint32_t* corner = &out[facet * 3];
        double edge[2][3];
        for (int e = 0; e < 2; ++e) {
            for (int axis = 0; axis < 3; ++axis) {
                edge[e][axis] = static_cast<double>(mesh.positions[corner[e + 1] * 3 + axis]) -
                                mesh.positions[corner[0] * 3 + axis];
            }
        }
        const double normal[3] = {edge[0][1] * edge[1][2] - edge[0][2] * edge[1][1],
                                  edge[0][2] * edge[1][0] - edge[0][0] * edge[1][2],
                                  edge[0][0] * edge[1][1] - edge[0][1] * edge[1][0]};
        for (int k = 0; k < 3; ++k) {
            for (int axis = 0; axis < 3; ++axis) {
                sums[corner[k] * std::size_t{3} + static_cast<std::size_t>(axis)] += normal[axis];
            }
        }
    }
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const double length =
            std::sqrt(sums[v * 3] * sums[v * 3] + sums[v * 3 + 1] * sums[v * 3 + 1] +
                      sums[v * 3 + 2] * sums[v * 3 + 2]);
        for (std::size_t axis = 0; axis < 3; ++axis) {
            // A vertex of flat faces only (a wall of zero height) faces up.
            mesh.normals[v * 3 + axis] = length > 0.0
                                             ? static_cast<float>(sums[v * 3 + axis] / length)
                                             : (axis == 1 ? 1.0f : 0.0f);
        }
    }
}

// Which cells of span the cut solid covers, west to east in rows north to south: those whose four
// corners are drawn, less the south-east (or south-west) cell of any pair meeting only at a corner,
// where four walls would share one vertical edge.
std::vector<bool> coveredCells(const HeightField& field, const TileSpan& span) {
    const int across = span.columns() - 1;
    const int down = span.rows() - 1;
    std::vector<bool> covered(static_cast<std::size_t>(across) * down);
    const auto cell = [&covered, across](int column, int row) {
        return covered[static_cast<std::size_t>(row) * across + column];
    };
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            const int c = span.firstColumn + column;
            const int r = span.firstRow + row;
            cell(column, row) = field.drawn(c, r) && field.drawn(c + 1, r) &&
                                field.drawn(c, r + 1) && field.drawn(c + 1, r + 1);
        }
    }
    // Dropping a cell can leave a new diagonal pair further on, so sweep until none is left.
    for (bool changed = true; changed;) {
        changed = false;
        for (int row = 1; row < down; ++row) {
            for (int column = 1; column < across; ++column) {
                const bool northWest = cell(column - 1, row - 1);
                const bool northEast = cell(column, row - 1);
                const bool southWest = cell(column - 1, row);
                const bool southEast = cell(column, row);
                if (northWest && southEast && !northEast && !southWest) {
                    cell(column, row) = false;
                    changed = true;
                } else if (northEast && southWest && !northWest && !southEast) {
                    cell(column - 1, row) = false;
                    changed = true;
                }
            }
        }
    }
    return covered;
}

SolidMesh cutSolid(const HeightField& field, const TileSpan& span, const SolidScale& scale) {
    const int columns = span.columns();
    const int across = columns - 1;
    const int down = span.rows() - 1;
    const std::vector<bool> covered = coveredCells(field, span);
    if (std::none_of(covered.begin(), covered.end(), [](bool c) { return c; })) {
        throw ToolError("no cell of samples " + std::to_string(span.firstColumn) + " to " +
                        std::to_string(span.lastColumn) + " west to east, " +
                        std::to_string(span.firstRow) + " to " + std::to_string(span.lastRow) +
                        " north to south has data at all four corners; --outline fill exports "
                        "it whole");
    }
    const auto isCovered = [&](int column, int row) {
        return column >= 0 && row >= 0 && column < across && row < down &&
               covered[static_cast<std::size_t>(row) * across + column];
    };

    SolidMesh mesh;
    const double acrossStep = field.spacingEast * scale.unitsPerMetre;
    const double downStep = field.spacingSouth * scale.unitsPerMetre;
    const double up = scale.exaggeration * scale.unitsPerMetre;
    const double sStep = 1.0 / (field.columns - 1);
    const double tStep = 1.0 / (field.rows - 1);
    // One vertex per sample and role, made when first used: top, wall top, wall foot (on the
    // plate, when there is one), underside.
    enum Role { top, wallTop, wallFoot, underside, roles };
    const bool plate = scale.plate > 0.0;
    const std::size_t samples = static_cast<std::size_t>(columns) * span.rows();
    std::vector<std::uint32_t> vertices(samples * roles, UINT32_MAX);
    const auto vertex = [&](int column, int row, Role role) {
        std::uint32_t& index =
            vertices[(static_cast<std::size_t>(row) * columns + column) * roles + role];
        if (index == UINT32_MAX) {
            index = static_cast<std::uint32_t>(mesh.vertexCount());
            const int c = span.firstColumn + column;
            const int r = span.firstRow + row;
            const double y = role == top || role == wallTop ? field.at(c, r) * up - scale.baseLevel
                             : role == wallFoot             ? scale.plate
                                                            : 0.0;
            mesh.positions.insert(
                mesh.positions.end(),
                {static_cast<float>(c * acrossStep - scale.centreX), static_cast<float>(y),
                 static_cast<float>(r * downStep - scale.centreZ)});
            mesh.textureCoordinates.insert(
                mesh.textureCoordinates.end(),
                {static_cast<float>(c * sStep), static_cast<float>(r * tStep)});
        }
        return index;
    };

    std::vector<std::uint32_t>& out = mesh.triangles;
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            if (isCovered(column, row)) {
                out.insert(out.end(),
                           {vertex(column, row, top), vertex(column, row + 1, top),
                            vertex(column + 1, row, top), vertex(column + 1, row, top),
                            vertex(column, row + 1, top), vertex(column + 1, row + 1, top)});
            }
        }
    }
    mesh.topTriangles = mesh.triangleCount();
    // Each side of a covered cell that borders no covered cell is a wall, walked with the cell on
    // its right seen from above (x right, z down the page), as the rectangle's perimeter is.
    struct Side {
        int towardsColumn, towardsRow;             // the neighbour across it
        int fromColumn, fromRow, toColumn, toRow;  // its ends, as offsets from the cell's corner
    };
    constexpr Side kSides[] = {
        {0, -1, 0, 0, 1, 0}, {1, 0, 1, 0, 1, 1}, {0, 1, 1, 1, 0, 1}, {-1, 0, 0, 1, 0, 0}};
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            if (!isCovered(column, row)) {
                continue;
            }
            for (const Side& side : kSides) {
                if (isCovered(column + side.towardsColumn, row + side.towardsRow)) {
                    continue;
                }
                const int ac = column + side.fromColumn;
                const int ar = row + side.fromRow;
                const int bc = column + side.toColumn;
                const int br = row + side.toRow;
                out.insert(out.end(), {vertex(ac, ar, wallTop), vertex(bc, br, wallTop),
                                       vertex(bc, br, wallFoot), vertex(ac, ar, wallTop),
                                       vertex(bc, br, wallFoot), vertex(ac, ar, wallFoot)});
            }
        }
    }
    const auto face = [&](int column, int row, Role role, bool upwards) {
        const std::uint32_t nw = vertex(column, row, role), ne = vertex(column + 1, row, role);
        const std::uint32_t sw = vertex(column, row + 1, role);
        const std::uint32_t se = vertex(column + 1, row + 1, role);
        if (upwards) {
            out.insert(out.end(), {nw, sw, ne, ne, sw, se});
        } else {
            out.insert(out.end(), {nw, ne, sw, ne, se, sw});
        }
    };
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            if (plate) {
                // The plate's top where no island stands on it, and its underside everywhere.
                if (!isCovered(column, row)) {
                    face(column, row, wallFoot, true);
                }
                face(column, row, underside, false);
            } else if (isCovered(column, row)) {
                face(column, row, underside, false);
            }
        }
    }
    if (plate) {
        // The plate's own walls, round the rectangle, from its top down to the underside.
        for (int row = 0; row < down; ++row) {
            for (int column = 0; column < across; ++column) {
                for (const Side& side : kSides) {
                    const int beyondColumn = column + side.towardsColumn;
                    const int beyondRow = row + side.towardsRow;
                    if (beyondColumn >= 0 && beyondRow >= 0 && beyondColumn < across &&
                        beyondRow < down) {
                        continue;
                    }
                    const int ac = column + side.fromColumn, ar = row + side.fromRow;
                    const int bc = column + side.toColumn, br = row + side.toRow;
                    out.insert(out.end(), {vertex(ac, ar, wallFoot), vertex(bc, br, wallFoot),
                                           vertex(bc, br, underside), vertex(ac, ar, wallFoot),
                                           vertex(bc, br, underside), vertex(ac, ar, underside)});
                }
            }
        }
    }
    smoothNormals(mesh);
    return mesh;
}

}  // namespace

std::vector<TileSpan> splitTiles(const HeightField& field, int across, int down) {
    if (across < 1 || down < 1 || across > field.columns - 1 || down > field.rows - 1) {
        throw ToolError("cannot cut " + std::to_string(field.columns) + " x " +
                        std::to_string(field.rows) + " samples into " + std::to_string(across) +
                        " x " + std::to_string(down) +
                        " tiles: each tile needs at least 2 samples each way");
    }
    const auto cut = [](int samples, int parts, int part) {
        return static_cast<int>(static_cast<std::int64_t>(samples - 1) * part / parts);
    };
    std::vector<TileSpan> tiles;
    for (int row = 0; row < down; ++row) {
        for (int column = 0; column < across; ++column) {
            tiles.push_back({cut(field.columns, across, column),
                             cut(field.columns, across, column + 1), cut(field.rows, down, row),
                             cut(field.rows, down, row + 1)});
        }
    }
    return tiles;
}

SolidScale solidScale(const HeightField& field, double exaggeration, double widthMm,
                      double baseThickness, Outline outline) {
    SolidScale scale;
    scale.exaggeration = exaggeration;
    if (widthMm > 0.0) {
        scale.unitsPerMetre = widthMm / std::max(field.width(), field.depth());
    }
    const HeightBounds drawn = field.drawnRange(outline == Outline::fill);
    const float lowest = drawn.empty() ? field.drawnRange(true).high : drawn.low;
    scale.baseLevel = lowest * exaggeration * scale.unitsPerMetre - baseThickness;
    scale.centreX = field.width() * scale.unitsPerMetre / 2.0;
    scale.centreZ = field.depth() * scale.unitsPerMetre / 2.0;
    return scale;
}

SolidMesh buildSolid(const HeightField& field, const TileSpan& span, const SolidScale& scale,
                     Outline outline) {
    if (outline == Outline::cut && !field.complete()) {
        return cutSolid(field, span, scale);
    }
    const int columns = span.columns();
    const int rows = span.rows();
    const std::vector<std::uint32_t> ring = perimeter(columns, rows);
    const std::size_t topCount = static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows);
    // Top, then the walls' upper and lower edges, then the underside's rim and centre.
    const std::size_t vertexCount = topCount + 3 * ring.size() + 1;
    const auto wallTop = static_cast<std::uint32_t>(topCount);
    const auto wallBottom = static_cast<std::uint32_t>(topCount + ring.size());
    const auto rim = static_cast<std::uint32_t>(topCount + 2 * ring.size());
    const auto centre = static_cast<std::uint32_t>(topCount + 3 * ring.size());

    SolidMesh mesh;
    mesh.positions.resize(vertexCount * 3);
    mesh.normals.resize(vertexCount * 3);
    mesh.textureCoordinates.resize(vertexCount * 2);
    mesh.triangles.reserve(solidTriangleCount(columns, rows) * 3);

    const double across = field.spacingEast * scale.unitsPerMetre;
    const double down = field.spacingSouth * scale.unitsPerMetre;
    const double up = scale.exaggeration * scale.unitsPerMetre;
    const double sStep = 1.0 / (field.columns - 1);
    const double tStep = 1.0 / (field.rows - 1);
    const auto place = [&mesh](std::size_t vertex, double x, double y, double z, double s,
                               double t) {
        mesh.positions[vertex * 3] = static_cast<float>(x);
        mesh.positions[vertex * 3 + 1] = static_cast<float>(y);
        mesh.positions[vertex * 3 + 2] = static_cast<float>(z);
        mesh.textureCoordinates[vertex * 2] = static_cast<float>(s);
        mesh.textureCoordinates[vertex * 2 + 1] = static_cast<float>(t);
    };
    const auto copy = [&](std::size_t vertex, std::uint32_t from, double y) {
        place(vertex, mesh.positions[from * 3], y, mesh.positions[from * 3 + 2],
              mesh.textureCoordinates[from * 2], mesh.textureCoordinates[from * 2 + 1]);
    };
    std::size_t vertex = 0;
    for (int row = span.firstRow; row <= span.lastRow; ++row) {
        for (int column = span.firstColumn; column <= span.lastColumn; ++column) {
            place(vertex++, column * across - scale.centreX,
                  field.at(column, row) * up - scale.baseLevel, row * down - scale.centreZ,
                  column * sStep, row * tStep);
        }
    }
    for (const std::uint32_t above : ring) {
        copy(vertex++, above, mesh.positions[above * 3 + 1]);
    }
    for (int pass = 0; pass < 2; ++pass) {
        for (const std::uint32_t above : ring) {
            copy(vertex++, above, 0.0);
        }
    }
    place(vertex, ((span.firstColumn + span.lastColumn) / 2.0) * across - scale.centreX, 0.0,
          ((span.firstRow + span.lastRow) / 2.0) * down - scale.centreZ,
          (span.firstColumn + span.lastColumn) / 2.0 * sStep,
          (span.firstRow + span.lastRow) / 2.0 * tStep);

    std::vector<std::uint32_t>& out = mesh.triangles;
    // Seen from above, x runs right and z down the page, so counter-clockwise from outside is
    // north-west, south-west, north-east for the top.
    for (int row = 0; row + 1 < rows; ++row) {
        for (int column = 0; column + 1 < columns; ++column) {
            const auto northWest = static_cast<std::uint32_t>(row * columns + column);
            const std::uint32_t northEast = northWest + 1;
            const auto southWest = static_cast<std::uint32_t>(northWest + columns);
            const std::uint32_t southEast = southWest + 1;
            out.insert(out.end(),
                       {northWest, southWest, northEast, northEast, southWest, southEast});
        }
    }
    mesh.topTriangles = mesh.triangleCount();
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const auto a = static_cast<std::uint32_t>(k);
        const auto b = static_cast<std::uint32_t>((k + 1) % ring.size());
        out.insert(out.end(), {wallTop + a, wallTop + b, wallBottom + b, wallTop + a,
                               wallBottom + b, wallBottom + a});
    }
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const auto a = static_cast<std::uint32_t>(k);
        const auto b = static_cast<std::uint32_t>((k + 1) % ring.size());
        out.insert(out.end(), {centre, rim + a, rim + b});
    }

    smoothNormals(mesh);
    return mesh;
}

std::uint64_t solidTriangleCount(std::int64_t columns, std::int64_t rows) {
    const auto cells = static_cast<std::uint64_t>((columns - 1) * (rows - 1));
    const auto edges = static_cast<std::uint64_t>(2 * (columns - 1) + 2 * (rows - 1));
    return 2 * cells + 3 * edges;
}

int samplesForTriangles(std::uint64_t maxTriangles) {
    int samples = 2;
    while (solidTriangleCount(samples + 1, samples + 1) <= maxTriangles) {
        ++samples;
    }
    return samples;
}

HeightField averagedDown(const HeightField& field, int maxSamples) {
    const int longer = std::max(field.columns, field.rows);
    if (longer <= maxSamples) {
        return field;
    }
    // Both axes thinned by one factor, so that the cells keep their shape on the ground.
    const double factor = static_cast<double>(maxSamples - 1) / (longer - 1);
    const auto resized = [factor](int samples) {
        return std::max(2, static_cast<int>(std::lround((samples - 1) * factor)) + 1);
    };
    HeightField out;
    out.columns = resized(field.columns);
    out.rows = resized(field.rows);
    out.spacingEast = field.width() / (out.columns - 1);
    out.spacingSouth = field.depth() / (out.rows - 1);
    const std::vector<BoxTaps> alongRows = boxTaps(field.columns, out.columns);
    const std::vector<BoxTaps> downColumns = boxTaps(field.rows, out.rows);

    // Rows first, then columns: each source value is touched once per pass.
    std::vector<float> narrowed(static_cast<std::size_t>(field.rows) * out.columns);
    for (int row = 0; row < field.rows; ++row) {
        const float* source = &field.heights[static_cast<std::size_t>(row) * field.columns];
        float* target = &narrowed[static_cast<std::size_t>(row) * out.columns];
        for (int column = 0; column < out.columns; ++column) {
            const BoxTaps& tap = alongRows[static_cast<std::size_t>(column)];
            double sum = 0.0;
            for (std::size_t i = 0; i < tap.weights.size(); ++i) {
                sum += tap.weights[i] * source[static_cast<std::size_t>(tap.first) + i];
            }
            target[column] = static_cast<float>(sum);
        }
    }
    out.heights.resize(static_cast<std::size_t>(out.rows) * out.columns);
    std::vector<double> sums(static_cast<std::size_t>(out.columns));
    for (int row = 0; row < out.rows; ++row) {
        const BoxTaps& tap = downColumns[static_cast<std::size_t>(row)];
        std::fill(sums.begin(), sums.end(), 0.0);
        for (std::size_t i = 0; i < tap.weights.size(); ++i) {
            const float* source =
                &narrowed[(static_cast<std::size_t>(tap.first) + i) * out.columns];
            for (int column = 0; column < out.columns; ++column) {
                sums[static_cast<std::size_t>(column)] += tap.weights[i] * source[column];
            }
        }
        std::transform(sums.begin(), sums.end(),
                       out.heights.begin() + static_cast<std::ptrdiff_t>(row) * out.columns,
                       [](double sum) { return static_cast<float>(sum); });
    }
    if (field.complete()) {
        return out;
    }
    out.kinds.resize(out.heights.size());
    const auto reached = [](const BoxTaps& tap) {
        int count = 0;  // taps of no weight (past an edge) are no part of the sample
        for (std::size_t i = 0; i < tap.weights.size(); ++i) {
            count = tap.weights[i] > 0.0 ? static_cast<int>(i) + 1 : count;
        }
        return count;
    };
    std::vector<int> alongReach;
    for (const BoxTaps& tap : alongRows) {
        alongReach.push_back(reached(tap));
    }
    for (int row = 0; row < out.rows; ++row) {
        const BoxTaps& down = downColumns[static_cast<std::size_t>(row)];
        const int downReach = reached(down);
        for (int column = 0; column < out.columns; ++column) {
            const BoxTaps& along = alongRows[static_cast<std::size_t>(column)];
            SampleKind kind = SampleKind::data;
            for (int i = 0; i < downReach; ++i) {
                for (int j = 0; j < alongReach[static_cast<std::size_t>(column)]; ++j) {
                    kind = std::max(kind, field.kind(along.first + j, down.first + i));
                }
            }
            out.kinds[out.index(column, row)] = kind;
        }
    }
    return out;
}

}  // namespace groundtool
