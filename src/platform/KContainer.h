#pragma once

// The maker's containers: a doubly linked list of object references
// (TKListOfObject), iterator objects over it and over maps, and a hash map of
// 97 buckets from keys to objects (TKMapToObject) with its integer and string
// faces.
//
// Ownership: containers never free the objects they hold. An owner frees each
// object and then clears the container (FreeObjectsAndClear does both). The map
// owns its keys and its (value, key) pairs, never the values.
//
// Iterators are separate objects that the caller creates from a container's
// first or last position and frees when done. An element must not be removed
// while another live iterator stands on it; should it happen anyway, that
// iterator becomes invalid instead of reaching freed memory. Clearing or
// destroying a container invalidates every iterator on it.
//
// Thread: none of these classes is thread-safe; they live on the user-interface
// thread.

#include "platform/Object.h"

#include <cstdint>
#include <memory>

#include <QString>

namespace orvane {

class TKListOfObject;
class TKMapToObject;
struct TKListNode;

// The common face of iterator objects; the virtual operations keep this order.
class TKIteratorObj : public TObject {
public:
    // The object at the current position; null when the iterator is invalid.
    virtual TObject* Current() const = 0;
    virtual bool IsValid() const = 0;
    virtual void Invalidate() = 0;
    // Takes the container and position of another iterator of the same kind
    // (an iterator of another kind leaves this one invalid).
    virtual void Assign(const TKIteratorObj& other) = 0;
    virtual std::unique_ptr<TKIteratorObj> Clone() const = 0;
    // Same container and same position (two invalid iterators are equal).
    virtual bool Equals(const TKIteratorObj& other) const = 0;
    // Moving an invalid iterator leaves it invalid; moving past either end
    // makes it invalid.
    virtual void Next() = 0;
    virtual void Previous() = 0;

    template <typename T>
    T* CurrentAs() const {
        return static_cast<T*>(Current());
    }
};

enum TKIteratorStart { itFirst, itLast };

class TKListIteratorObj final : public TKIteratorObj {
public:
    // An invalid iterator that belongs to no list.
    TKListIteratorObj() = default;
    explicit TKListIteratorObj(const TKListOfObject& list, TKIteratorStart start = itFirst);
    TKListIteratorObj(const TKListIteratorObj& other);
    TKListIteratorObj& operator=(const TKListIteratorObj& other);
    ~TKListIteratorObj() override;

    TObject* Current() const override;
    bool IsValid() const override { return m_node != nullptr; }
    void Invalidate() override { m_node = nullptr; }
    void Assign(const TKIteratorObj& other) override;
    std::unique_ptr<TKIteratorObj> Clone() const override;
    bool Equals(const TKIteratorObj& other) const override;
    void Next() override;
    void Previous() override;

    // The list this iterator walks; null once that list is gone.
    const TKListOfObject* List() const { return m_list; }

private:
    friend class TKListOfObject;
    void attach(const TKListOfObject* list);
    void detach();

    const TKListOfObject* m_list = nullptr;
    TKListNode* m_node = nullptr;
    // Links of the list's chain of live iterators.
    TKListIteratorObj* m_prevIterator = nullptr;
    TKListIteratorObj* m_nextIterator = nullptr;
};

// A doubly linked list of object references with a count, in insertion order.
// The same object may be held more than once; null is held like any object.
class TKListOfObject : public TObject {
public:
    TKListOfObject() = default;
    TKListOfObject(const TKListOfObject&) = delete;
    TKListOfObject& operator=(const TKListOfObject&) = delete;
    // Unlinks every element without freeing the objects.
    ~TKListOfObject() override;

    int Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    void Append(TObject* object);
    // Inserts before the iterator's position; with an invalid iterator (past
    // the end) the object is appended. An iterator of another list is refused
    // (logged, nothing inserted).
    void Insert(const TKListIteratorObj& position, TObject* object);
    // Unlinks the element at the iterator's position and returns its object;
    // the iterator moves on to the next element (invalid after the last).
    // Returns null when the iterator is invalid or belongs to another list.
    TObject* Remove(TKListIteratorObj& position);
    // Unlinks the first element holding the object; false when none does.
    bool RemoveObject(const TObject* object);
    // Unlinks every element; the objects are not freed.
    void Clear();
    // Frees every object held (an object held twice is freed once), then
    // clears the list. For owning lists.
    void FreeObjectsAndClear();

    bool Contains(const TObject* object) const;
    // The object at a position counted from 0, or null when out of range.
    TObject* At(int index) const;

    std::unique_ptr<TKListIteratorObj> First() const;
    std::unique_ptr<TKListIteratorObj> Last() const;

    // Read-only walking in C++ style (for (TObject* o : list)). The list must
    // not change during such a loop; use an iterator object to remove.
    class const_iterator {
    public:
        explicit const_iterator(const TKListNode* node) : m_node(node) {}
        TObject* operator*() const;
        const_iterator& operator++();
        bool operator==(const const_iterator& other) const = default;

    private:
        const TKListNode* m_node;
    };
    const_iterator begin() const { return const_iterator(m_head); }
    const_iterator end() const { return const_iterator(nullptr); }

private:
    friend class TKListIteratorObj;
    void unlink(TKListNode* node);

    TKListNode* m_head = nullptr;
    TKListNode* m_tail = nullptr;
    int m_count = 0;
    // Chain of live iterators on this list, so that removal and clearing can
    // invalidate those that stand on a vanishing element.
    mutable TKListIteratorObj* m_iterators = nullptr;
};

constexpr int kMapBucketCount = 97;

// A map key. Hash gives the bucket (0 to 96); Equals compares with a key of the
// same kind (keys of different kinds are never equal).
class TKMapKey : public TObject {
public:
    virtual int Hash() const = 0;
    virtual bool Equals(const TKMapKey& other) const = 0;
};

// A 32-bit integer key: bucket = key modulo 97 (a negative key is counted from
// the bucket its non-negative remainder names).
class TKMapLongIntKey final : public TKMapKey {
public:
    explicit TKMapLongIntKey(std::int32_t value) : m_value(value) {}
    std::int32_t Value() const { return m_value; }
    int Hash() const override;
    bool Equals(const TKMapKey& other) const override;

private:
    std::int32_t m_value;
};

// A text key. The hash runs over the text's Windows-1252 bytes: h starts at 0,
// h = (h * 33 + byte) mod 65536 for each byte, bucket = h mod 97. Equal only
// when the texts are identical, letter case included (callers that want names
// without regard to case upper-case them first).
class TKMapStringKey final : public TKMapKey {
public:
    explicit TKMapStringKey(QString value) : m_value(std::move(value)) {}
    const QString& Value() const { return m_value; }
    int Hash() const override;
    bool Equals(const TKMapKey& other) const override;

    // The 16-bit hash before the bucket is taken.
    static std::uint16_t TextHash(const QString& text);

private:
    QString m_value;
};

// Iterates a map over buckets 0 to 96 and, within a bucket, in insertion order.
class TKMapIteratorObj final : public TKIteratorObj {
public:
    explicit TKMapIteratorObj(const TKMapToObject& map, TKIteratorStart start = itFirst);
    TKMapIteratorObj(const TKMapIteratorObj& other) = default;
    TKMapIteratorObj& operator=(const TKMapIteratorObj& other) = default;
    ~TKMapIteratorObj() override = default;

    // The value of the current pair.
    TObject* Current() const override;
    bool IsValid() const override;
    void Invalidate() override;
    void Assign(const TKIteratorObj& other) override;
    std::unique_ptr<TKIteratorObj> Clone() const override;
    bool Equals(const TKIteratorObj& other) const override;
    void Next() override;
    void Previous() override;

    // The key of the current pair; null when invalid.
    const TKMapKey* Key() const;

private:
    void seekForward(int fromBucket);
    void seekBackward(int fromBucket);

    const TKMapToObject* m_map;
    int m_bucket = -1;
    TKListIteratorObj m_position; // within the current bucket
};

// A hash table of 97 buckets of (value, key) pairs. Add does not look for an
// equal key, so one key may be added several times; Find and Remove take the
// earliest-added pair with an equal key. Values are never freed by the map.
class TKMapToObject : public TObject {
public:
    TKMapToObject();
    TKMapToObject(const TKMapToObject&) = delete;
    TKMapToObject& operator=(const TKMapToObject&) = delete;
    // Frees the pairs and keys, not the values.
    ~TKMapToObject() override;

    int Count() const { return m_count; }
    bool IsEmpty() const { return m_count == 0; }

    // Appends a pair to the key's bucket; the map takes the key.
    void Add(std::unique_ptr<TKMapKey> key, TObject* value);
    // The value of the earliest-added pair with an equal key, or null.
    TObject* Find(const TKMapKey& key) const;
    // Frees the earliest-added pair with an equal key and its key and returns
    // its value, or null when there is none.
    TObject* Remove(const TKMapKey& key);
    // Frees every pair and key; values are not freed.
    void Clear();
    // Frees every value (a value held twice is freed once), then clears.
    void FreeValuesAndClear();

    std::unique_ptr<TKMapIteratorObj> First() const;
    std::unique_ptr<TKMapIteratorObj> Last() const;

private:
    friend class TKMapIteratorObj;
    const TKListOfObject& bucket(int index) const { return m_buckets[index]; }

    std::unique_ptr<TKListOfObject[]> m_buckets;
    int m_count = 0;
};

// Integer-keyed face of the map.
class TKMapLongIntToObject : public TKMapToObject {
public:
    using TKMapToObject::Add;
    using TKMapToObject::Find;
    using TKMapToObject::Remove;

    void Add(std::int32_t key, TObject* value);
    TObject* Find(std::int32_t key) const;
    TObject* Remove(std::int32_t key);

    template <typename T>
    T* FindAs(std::int32_t key) const {
        return static_cast<T*>(Find(key));
    }
};

// Text-keyed face of the map (exact, case-sensitive keys).
class TKMapStringToObject : public TKMapToObject {
public:
    using TKMapToObject::Add;
    using TKMapToObject::Find;
    using TKMapToObject::Remove;

    void Add(const QString& key, TObject* value);
    TObject* Find(const QString& key) const;
    TObject* Remove(const QString& key);

    template <typename T>
    T* FindAs(const QString& key) const {
        return static_cast<T*>(Find(key));
    }
};

} // namespace orvane
