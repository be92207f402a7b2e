#pragma once
// The ordered link set: an intrusive AVL tree whose nodes are the links themselves (their
// avl_parent/avl_left/avl_right/avl_balance hook). It owns nothing and allocates nothing.

#include <boost/intrusive/avltree_algorithms.hpp>
#include <cstddef>

namespace vorada {

/// Intrusive self-balancing ordered set of Link objects ordered by Compare.
template <typename Link, typename Compare>
class BST {
  public:
    /// Maps the generic AVL node operations onto the link's hook fields.
    struct avltree_node_traits {
        using node = Link;
        using node_ptr = Link*;
        using const_node_ptr = const Link*;
        using balance = int;

        static node_ptr get_parent(const_node_ptr n) { return n->avl_parent; }
        static void set_parent(node_ptr n, node_ptr p) { n->avl_parent = p; }
        static node_ptr get_left(const_node_ptr n) { return n->avl_left; }
        static void set_left(node_ptr n, node_ptr l) { n->avl_left = l; }
        static node_ptr get_right(const_node_ptr n) { return n->avl_right; }
        static void set_right(node_ptr n, node_ptr r) { n->avl_right = r; }
        static balance get_balance(const_node_ptr n) { return n->avl_balance; }
        static void set_balance(node_ptr n, balance b) { n->avl_balance = b; }
        static balance negative() { return -1; }
        static balance zero() { return 0; }
        static balance positive() { return 1; }
    };
    using algorithms = boost::intrusive::avltree_algorithms<avltree_node_traits>;

    BST() { algorithms::init_header(&header); }
    // The header's pointers refer to the header itself, so the set cannot be copied or moved.
    BST(const BST&) = delete;
    BST& operator=(const BST&) = delete;

    /// Adds a link that is in no set; it is placed by Compare and the tree rebalanced.
    void insert(Link* link) {
        algorithms::insert_equal_upper_bound(&header, link, Compare());
        ++count;
    }
    /// Removes a link that is in this set.
    void erase(Link* link) {
        algorithms::erase(&header, link);
        algorithms::init(link);
        --count;
    }
    /// The smallest link (constant time); null when the set is empty.
    Link* smallest() const { return empty() ? nullptr : header.avl_left; }
    /// The largest link; null when the set is empty.
    Link* largest() const { return empty() ? nullptr : header.avl_right; }
    /// The link after `link` in set order, or null after the largest.
    Link* next(Link* link) const {
        Link* following = algorithms::next_node(link);
        return following == &header ? nullptr : following;
    }
    bool empty() const { return header.avl_parent == nullptr; }
    std::size_t size() const { return count; }
    /// Checks the AVL invariants and the stored size (for tests).
    bool verify() const {
        return algorithms::verify(const_cast<Link*>(&header)) && algorithms::size(&header) == count;
    }

  private:
    Link header;
    std::size_t count = 0;
};

}  // namespace vorada
