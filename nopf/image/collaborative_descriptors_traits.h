#pragma once
// Named descriptors attached to an image. The segmentation pipeline never attaches any; the map
// exists so image analyses can cache results on the image they describe.

#include <map>
#include <memory>
#include <string>

namespace vorada {

/// Polymorphic base of the image library's descriptors (not the region descriptors of gma).
class DescriptorBase {
  public:
    virtual ~DescriptorBase() = default;
};

/// Owns a map from descriptor name to descriptor; destroying it deletes every descriptor.
class collaborative_descriptors_traits {
  public:
    collaborative_descriptors_traits() = default;
    // Descriptors describe the pixels they were computed on, so a copy starts without any and
    // an assignment of new pixels drops the old ones.
    collaborative_descriptors_traits(const collaborative_descriptors_traits&) {}
    collaborative_descriptors_traits& operator=(const collaborative_descriptors_traits& other) {
        if (this != &other) {
            descriptors.clear();
        }
        return *this;
    }
    virtual ~collaborative_descriptors_traits() = default;

    std::map<std::string, std::unique_ptr<DescriptorBase>> descriptors;
};

}  // namespace vorada
