#pragma once
// Cache of per-region descriptors, keyed by the signal object they are measured on, the region
// label and the descriptor name. Each descriptor is computed once; a merged region's is
// combined from its children's.
//
// One store for all of them, sized by the regions alive rather than by every label a run
// makes: a live region has one slot, and each (signal, descriptor) pair is a typed column of
// per-slot values. release(label) empties the region's place in every column at once, so no
// view of a released region survives anywhere. A descriptor kind chooses how its column keeps
// values (D::storage): by default one value per slot in blocks that never move; the colour
// signature and the per-frame sums keep their variable-length parts in run pools. A storage
// read for many regions in a row may ask to be indexed by label instead (a small entry per
// label), which saves the slot look-up.

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {

/// Default column storage: one T per slot, in blocks that never move, so references to a
/// stored value stay valid until its region is released.
template <typename T>
class ValueStorage {
  public:
    using result = const T&;

    bool has(std::uint32_t slot) const { return slot < present.size() && present[slot]; }
    result get(std::uint32_t slot) const { return _at(slot); }
    result put(std::uint32_t slot, T&& value) {
        while (blocks.size() * block_size <= slot) {
            blocks.emplace_back(new T[block_size]);
        }
        if (present.size() <= slot) {
            present.resize(slot + 1, 0);
        }
        T& stored = _at(slot);
        stored = std::move(value);
        present[slot] = 1;
        return stored;
    }
    void clear(std::uint32_t slot) {
        _at(slot) = T();
        present[slot] = 0;
    }

  private:
    static constexpr std::size_t block_size = 4096;
    T& _at(std::uint32_t slot) const { return blocks[slot / block_size][slot % block_size]; }

    std::vector<std::unique_ptr<T[]>> blocks;
    std::vector<unsigned char> present;
};

template <typename Storage, typename = void>
struct indexed_by_label : std::false_type {};
template <typename Storage>
struct indexed_by_label<Storage, std::enable_if_t<Storage::indexed_by_label>> : std::true_type {};

template <typename D, typename = void>
struct descriptor_storage {
    using type = ValueStorage<typename D::type>;
};
template <typename D>
struct descriptor_storage<D, std::void_t<typename D::storage>> {
    using type = typename D::storage;
};

class DescriptorManager {
  public:
    static constexpr std::uint32_t no_slot = 0xFFFFFFFFu;

    /// Number of region labels that can hold descriptors: labels 0 … capacity − 1.
    unsigned long long capacity = 0;

    DescriptorManager() = default;
    DescriptorManager(const DescriptorManager&) = delete;
    DescriptorManager& operator=(const DescriptorManager&) = delete;

    /// The payload of descriptor kind D of `region` measured on `signal`, computed and stored
    /// on first request (from the children's payloads for a merged region). Later requests
    /// give the same payload and ignore `parameters`. A label not below `capacity` throws
    /// D::capacity_error "Region index too high to store the descriptor" and stores nothing.
    /// A payload kept by value stays valid until its region is released; a view into a run
    /// pool (colour signatures, per-frame sums) until the next release of any region, which
    /// may repack the pool.
    template <typename D, typename Signal, typename Region>
    typename descriptor_storage<D>::type::result calc_descriptor(
        Signal& signal, Region& region, const typename D::Parameters& parameters);

    /// The stored values of D measured on `signal`, read by slot (see slot()), or by label for
    /// a storage indexed by label; null before the first is stored.
    template <typename D, typename Signal>
    const typename descriptor_storage<D>::type* values(const Signal& signal) const;

    /// Slot of a region holding descriptors, or no_slot.
    std::uint32_t slot(unsigned long long label) const {
        return label < slot_of_label.size() ? slot_of_label[label] : no_slot;
    }
    /// Hints that slot(label) will be asked for soon.
    void prefetch_slot(std::uint32_t label) const {
        if (label < slot_of_label.size()) {
            __builtin_prefetch(&slot_of_label[label]);
        }
    }

    /// Destroys every stored descriptor of one region, on every signal. A later request
    /// computes it again. The tree calls this for children once their parent's descriptors
    /// exist.
    void release(unsigned long long label);

    /// Number of descriptors currently stored, over all signals and names.
    std::size_t stored_count() const;
    /// Number of regions currently holding a slot (descriptors other than label-indexed ones).
    std::size_t region_count() const { return slot_total - free_slots.size(); }

  private:
    class ColumnBase {
      public:
        ColumnBase(const void* signal_key,
                   const char* descriptor_name,
                   const void* kind,
                   bool label_index)
            : signal(signal_key),
              name(descriptor_name),
              name_key(descriptor_name),
              kind_key(kind),
              by_label(label_index) {}
        virtual ~ColumnBase() = default;
        /// Empties one place: a slot, or a label for a column indexed by label.
        virtual void clear(std::uint32_t place) = 0;

        const void* signal;
        std::string name;
        const char* name_key;  ///< the name's address, compared before the text
        const void* kind_key;  ///< identifies the descriptor kind
        bool by_label;
        std::size_t count = 0;
    };

    template <typename D>
    class Column : public ColumnBase {
      public:
        using Storage = typename descriptor_storage<D>::type;
        Column(const void* signal_key, const char* descriptor_name, const void* kind)
            : ColumnBase(signal_key, descriptor_name, kind, indexed_by_label<Storage>::value) {}
        void clear(std::uint32_t place) override {
            if (storage.has(place)) {
                storage.clear(place);
                --count;
            }
        }
        typename descriptor_storage<D>::type storage;
    };

    template <typename D>
    static const void* _kind_key() {
        static const char tag = 0;
        return &tag;
    }

    template <typename D>
    Column<D>& _column(const void* signal);
    std::uint32_t _slot_for(unsigned long long label);

    std::vector<std::unique_ptr<ColumnBase>> columns;
    std::vector<std::uint32_t> slot_of_label;
    std::vector<std::uint32_t> free_slots;
    std::uint32_t slot_total = 0;
};

// ---------------------------------------------------------------------------------------------
// Implementation

template <typename D>
DescriptorManager::Column<D>& DescriptorManager::_column(const void* signal) {
    // A handful of columns at most; the name's address usually matches without a text compare.
    const char* name = D::name();
    for (const auto& column : columns) {
        if (column->signal == signal && (column->name_key == name || column->name == name)) {
            if (column->kind_key != _kind_key<D>()) {
                throw VoradaError("Descriptor '" + std::string(name) +
                                  "' was stored with another type for this signal");
            }
            return static_cast<Column<D>&>(*column);
        }
    }
    columns.push_back(std::make_unique<Column<D>>(signal, name, _kind_key<D>()));
    return static_cast<Column<D>&>(*columns.back());
}

inline std::uint32_t DescriptorManager::_slot_for(unsigned long long label) {
    if (label >= slot_of_label.size()) {
        slot_of_label.resize(static_cast<std::size_t>(label) + 1, no_slot);
    }
    std::uint32_t& slot = slot_of_label[static_cast<std::size_t>(label)];
    if (slot == no_slot) {
        if (!free_slots.empty()) {
            slot = free_slots.back();
            free_slots.pop_back();
        } else {
            if (slot_total == no_slot) {
                throw VoradaError("Too many regions to store descriptors for");
            }
            slot = slot_total++;
        }
    }
    return slot;
}

template <typename D, typename Signal, typename Region>
typename descriptor_storage<D>::type::result DescriptorManager::calc_descriptor(
    Signal& signal, Region& region, const typename D::Parameters& parameters) {
    const unsigned long long label = region.label;
    if (label >= capacity) {
        throw typename D::capacity_error("Region index too high to store the descriptor");
    }
    Column<D>& column = _column<D>(&signal);
    constexpr bool by_label = indexed_by_label<typename Column<D>::Storage>::value;
    if (by_label && label >= no_slot) {
        throw VoradaError("Too many regions to store descriptors for");
    }
    const std::uint32_t known = by_label ? static_cast<std::uint32_t>(label) : slot(label);
    if (known != no_slot && column.storage.has(known)) {
        return column.storage.get(known);
    }
    D descriptor;
    if (descriptor.is_recursive() && !region.children.empty()) {
        descriptor.recursive_calculate(signal, region, region.children, parameters, this);
    } else {
        descriptor.calculate(signal, region, parameters, this);
    }
    // The slot is taken only now: the computation may have failed, or stored other regions.
    const std::uint32_t place = by_label ? known : _slot_for(label);
    auto&& stored = column.storage.put(place, std::move(descriptor.value));
    ++column.count;
    return stored;
}

template <typename D, typename Signal>
const typename descriptor_storage<D>::type* DescriptorManager::values(const Signal& signal) const {
    const char* name = D::name();
    for (const auto& column : columns) {
        if (column->signal == &signal && (column->name_key == name || column->name == name) &&
            column->kind_key == _kind_key<D>()) {
            return &static_cast<const Column<D>&>(*column).storage;
        }
    }
    return nullptr;
}

inline void DescriptorManager::release(unsigned long long label) {
    const std::uint32_t place = slot(label);
    for (const auto& column : columns) {
        if (column->by_label) {
            if (label < no_slot) {
                column->clear(static_cast<std::uint32_t>(label));
            }
        } else if (place != no_slot) {
            column->clear(place);
        }
    }
    if (place != no_slot) {
        slot_of_label[static_cast<std::size_t>(label)] = no_slot;
        free_slots.push_back(place);
    }
}

inline std::size_t DescriptorManager::stored_count() const {
    std::size_t total = 0;
    for (const auto& column : columns) {
        total += column->count;
    }
    return total;
}

}  // namespace gma
}  // namespace vorada
