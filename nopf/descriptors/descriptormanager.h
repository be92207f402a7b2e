#pragma once
// Cache of per-region descriptors, keyed by the signal object they are measured on, the region
// label and the descriptor name. Each descriptor is computed once; a merged region's is
// combined from its children's.
//
// Storage is compact because the tree holds well over a million regions: per (signal, name)
// one array of `capacity` 32-bit slot numbers, and the payloads in fixed blocks that never
// move, so references handed out stay valid. Only the payload is kept; the descriptor object
// that computed it (and any parameters it copied) is discarded.

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"

namespace vorada {
namespace gma {

class DescriptorManager {
public:
    /// Number of region labels that can hold descriptors: labels 0 … capacity − 1.
    unsigned long long capacity = 0;

    DescriptorManager() = default;
    DescriptorManager(const DescriptorManager&) = delete;
    DescriptorManager& operator=(const DescriptorManager&) = delete;

    /// The payload of descriptor kind D of `region` measured on `signal`, computed and stored
    /// on first request (from the children's payloads for a merged region). Later requests
    /// return the same reference and ignore `parameters`. A label not below `capacity` throws
    /// D::capacity_error "Region index too high to store the descriptor" and stores nothing.
    template <typename D, typename Signal, typename Region>
    const typename D::type& calc_descriptor(Signal& signal, Region& region,
                                            const typename D::Parameters& parameters);

    /// Destroys every stored descriptor of one region, on every signal. A later request
    /// computes it again. The tree may call this for children once their parent's
    /// descriptors exist, to bound memory.
    void release(unsigned long long label);

    /// Number of descriptors currently stored, over all signals and names.
    std::size_t stored_count() const;

private:
    class StoreBase {
    public:
        StoreBase(std::uintptr_t signal_key, const char* descriptor_name, const void* payload_type)
            : signal(signal_key), name(descriptor_name), name_key(descriptor_name),
              type_key(payload_type) {}
        virtual ~StoreBase() = default;
        virtual void release(unsigned long long label) = 0;
        virtual std::size_t count() const = 0;

        std::uintptr_t signal;
        std::string name;
        const char* name_key;  ///< the name's address, compared before the text
        const void* type_key;  ///< identifies the payload type
    };

    template <typename Payload>
    static const void* _type_key() {
        static const char tag = 0;
        return &tag;
    }

    template <typename Payload>
    class Store;

    template <typename Payload>
    Store<Payload>& _store(std::uintptr_t signal, const char* name);

    std::vector<std::unique_ptr<StoreBase>> stores;
};

// ---------------------------------------------------------------------------------------------
// Implementation

/// Payloads of one (signal, name) pair. Slot value 0 means empty, k means payload k − 1.
template <typename Payload>
class DescriptorManager::Store : public DescriptorManager::StoreBase {
public:
    static constexpr std::size_t block_size = 1024;

    Store(std::uintptr_t signal_key, const char* descriptor_name, unsigned long long slot_count)
        : StoreBase(signal_key, descriptor_name, _type_key<Payload>()), slots(slot_count, 0) {}

    const Payload* find(unsigned long long label) const {
        if (label >= slots.size() || slots[label] == 0) {
            return nullptr;
        }
        return &_at(slots[label] - 1);
    }

    const Payload& put(unsigned long long label, Payload&& payload) {
        if (label >= slots.size()) {
            slots.resize(label + 1, 0);  // capacity was raised after this store was made
        }
        std::uint32_t index;
        if (!free_list.empty()) {
            index = free_list.back();
            free_list.pop_back();
        } else {
            if (used == std::numeric_limits<std::uint32_t>::max() - 1) {
                throw VoradaError("Too many descriptors to store");
            }
            if (used == blocks.size() * block_size) {
                blocks.emplace_back(new Payload[block_size]);
            }
            index = used++;
        }
        Payload& stored = _at(index);
        stored = std::move(payload);
        slots[label] = index + 1;
        return stored;
    }

    void release(unsigned long long label) override {
        if (label >= slots.size() || slots[label] == 0) {
            return;
        }
        const std::uint32_t index = slots[label] - 1;
        _at(index) = Payload();
        free_list.push_back(index);
        slots[label] = 0;
    }

    std::size_t count() const override { return used - free_list.size(); }

private:
    Payload& _at(std::uint32_t index) const { return blocks[index / block_size][index % block_size]; }

    std::vector<std::uint32_t> slots;
    std::vector<std::unique_ptr<Payload[]>> blocks;
    std::vector<std::uint32_t> free_list;
    std::uint32_t used = 0;
};

template <typename Payload>
DescriptorManager::Store<Payload>& DescriptorManager::_store(std::uintptr_t signal,
                                                             const char* name) {
    // A handful of stores at most; the name's address usually matches without a text compare.
    for (const auto& store : stores) {
        if (store->signal == signal && (store->name_key == name || store->name == name)) {
            if (store->type_key != _type_key<Payload>()) {
                throw VoradaError("Descriptor '" + std::string(name) +
                                  "' was stored with another type for this signal");
            }
            return static_cast<Store<Payload>&>(*store);
        }
    }
    stores.push_back(std::make_unique<Store<Payload>>(signal, name, capacity));
    return static_cast<Store<Payload>&>(*stores.back());
}

template <typename D, typename Signal, typename Region>
const typename D::type& DescriptorManager::calc_descriptor(
    Signal& signal, Region& region, const typename D::Parameters& parameters) {
    const unsigned long long label = region.label;
    if (label >= capacity) {
        throw typename D::capacity_error("Region index too high to store the descriptor");
    }
    Store<typename D::type>& store =
        _store<typename D::type>(reinterpret_cast<std::uintptr_t>(&signal), D::name());
    if (const typename D::type* stored = store.find(label)) {
        return *stored;
    }
    D descriptor;
    if (descriptor.is_recursive() && !region.children.empty()) {
        descriptor.recursive_calculate(signal, region, region.children, parameters, this);
    } else {
        descriptor.calculate(signal, region, parameters, this);
    }
    return store.put(label, std::move(descriptor.value));
}

inline void DescriptorManager::release(unsigned long long label) {
    for (const auto& store : stores) {
        store->release(label);
    }
}

inline std::size_t DescriptorManager::stored_count() const {
    std::size_t total = 0;
    for (const auto& store : stores) {
        total += store->count();
    }
    return total;
}

}  // namespace gma
}  // namespace vorada
