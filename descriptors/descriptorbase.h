#pragma once
// Base of every per-region descriptor held by the descriptor manager.

namespace vorada {
namespace gma {

/// A per-region summary. `recursive` says whether a merged region's descriptor may be combined
/// from its children's; every concrete descriptor sets it.
class DescriptorBase {
  public:
    bool recursive = true;

    virtual ~DescriptorBase() = default;
    /// True when a merged region's value is combined from its children's values.
    virtual bool is_recursive() const { return recursive; }
};

}  // namespace gma
}  // namespace vorada
