#include "gdal_errors.h"

#include <algorithm>

#include "printable.h"

namespace raster {

namespace {

std::string oneLine(std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    while (!message.empty() && (message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "GDAL gave no reason" : printable(message);
}

}  // namespace

std::string gdalMessage() {
    return oneLine(CPLGetLastErrorMsg());
}

GdalErrorWatch::GdalErrorWatch() {
    CPLPushErrorHandlerEx(&GdalErrorWatch::record, this);
}

GdalErrorWatch::~GdalErrorWatch() {
    CPLPopErrorHandler();
}

std::string GdalErrorWatch::message() const {
    return oneLine(first_);
}

void CPL_STDCALL GdalErrorWatch::record(CPLErr level, CPLErrorNum, const char* text) {
    auto* watch = static_cast<GdalErrorWatch*>(CPLGetErrorHandlerUserData());
    if (watch == nullptr || level < CE_Warning || watch->raised_) {
        return;
    }
    watch->raised_ = true;
    watch->first_ = text != nullptr ? text : "";
}

}  // namespace raster
