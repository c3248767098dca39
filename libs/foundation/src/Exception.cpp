#include "Exception.h"

String Exception::getLocation() const {
    String location(file_);
    location.append(", line ").append(line_);
    return location;
}
