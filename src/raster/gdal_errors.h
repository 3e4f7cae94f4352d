#pragma once
// GDAL's complaints as one-line messages. GDAL reports a damaged block ("premature end of JPEG
// file") as a mere warning and hands back whatever it decoded; a watch turns that into a failure.

#include <cpl_error.h>

#include <string>

namespace raster {

// GDAL's last error message on one line, control characters escaped, or a stand-in when it left
// none.
std::string gdalMessage();

// Records the first warning or failure GDAL raises on this thread while it lives (debug messages
// aside); the handler before it is back when it goes.
class GdalErrorWatch {
  public:
    GdalErrorWatch();
    ~GdalErrorWatch();
    GdalErrorWatch(const GdalErrorWatch&) = delete;
    GdalErrorWatch& operator=(const GdalErrorWatch&) = delete;

    bool raised() const { return raised_; }
    // The first message on one line, control characters escaped.
    std::string message() const;

  private:
    static void CPL_STDCALL record(CPLErr level, CPLErrorNum number, const char* text);

    bool raised_ = false;
    std::string first_;
};

}  // namespace raster
