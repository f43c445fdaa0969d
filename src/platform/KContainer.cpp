#include "platform/KContainer.h"

#include <unordered_set>
#include <vector>

#include "platform/PlatformLog.h"
#include "platform/SoftAssert.h"
#include "platform/TextCodec.h"

namespace orvane {

struct TKListNode {
    TObject* object;
    TKListNode* prev;
    TKListNode* next;
};

// ---------------------------------------------------------------------------
// TKListIteratorObj

TKListIteratorObj::TKListIteratorObj(const TKListOfObject& list, TKIteratorStart start) {
    attach(&list);
    m_node = start == itFirst ? list.m_head : list.m_tail;
}

TKListIteratorObj::TKListIteratorObj(const TKListIteratorObj& other) : TKIteratorObj() {
    attach(other.m_list);
    m_node = other.m_node;
}

TKListIteratorObj& TKListIteratorObj::operator=(const TKListIteratorObj& other) {
    if (this != &other) {
        if (m_list != other.m_list) {
            detach();
            attach(other.m_list);
        }
        m_node = other.m_node;
    }
    return *this;
}

TKListIteratorObj::~TKListIteratorObj() {
    detach();
}

void TKListIteratorObj::attach(const TKListOfObject* list) {
    m_list = list;
    if (list == nullptr) {
        return;
    }
    m_prevIterator = nullptr;
    m_nextIterator = list->m_iterators;
    if (m_nextIterator != nullptr) {
        m_nextIterator->m_prevIterator = this;
    }
    list->m_iterators = this;
}

void TKListIteratorObj::detach() {
    if (m_list != nullptr) {
        if (m_prevIterator != nullptr) {
            m_prevIterator->m_nextIterator = m_nextIterator;
        } else {
            m_list->m_iterators = m_nextIterator;
        }
        if (m_nextIterator != nullptr) {
            m_nextIterator->m_prevIterator = m_prevIterator;
        }
    }
    m_list = nullptr;
    m_node = nullptr;
    m_prevIterator = nullptr;
    m_nextIterator = nullptr;
}

TObject* TKListIteratorObj::Current() const {
    return m_node != nullptr ? m_node->object : nullptr;
}

void TKListIteratorObj::Assign(const TKIteratorObj& other) {
    const auto* same = dynamic_cast<const TKListIteratorObj*>(&other);
    ORVANE_ASSERT(same != nullptr, Invalidate(); return );
    *this = *same;
}

std::unique_ptr<TKIteratorObj> TKListIteratorObj::Clone() const {
    return std::make_unique<TKListIteratorObj>(*this);
}

bool TKListIteratorObj::Equals(const TKIteratorObj& other) const {
    const auto* same = dynamic_cast<const TKListIteratorObj*>(&other);
    if (same == nullptr) {
        return false;
    }
    if (m_node == nullptr || same->m_node == nullptr) {
        return m_node == same->m_node;
    }
    return m_list == same->m_list && m_node == same->m_node;
}

void TKListIteratorObj::Next() {
    if (m_node != nullptr) {
        m_node = m_node->next;
    }
}

void TKListIteratorObj::Previous() {
    if (m_node != nullptr) {
        m_node = m_node->prev;
    }
}

// ---------------------------------------------------------------------------
// TKListOfObject

TKListOfObject::~TKListOfObject() {
    Clear();
    while (m_iterators != nullptr) {
        m_iterators->detach();
    }
}

void TKListOfObject::Append(TObject* object) {
    auto* node = new TKListNode{object, m_tail, nullptr};
    if (m_tail != nullptr) {
        m_tail->next = node;
    } else {
        m_head = node;
    }
    m_tail = node;
    ++m_count;
}

void TKListOfObject::Insert(const TKListIteratorObj& position, TObject* object) {
    // A position of another list would link its nodes into this one.
    ORVANE_ASSERT(position.m_list == this || !position.IsValid(), return );
    TKListNode* before = position.m_list == this ? position.m_node : nullptr;
    if (before == nullptr) {
        Append(object);
        return;
    }
    auto* node = new TKListNode{object, before->prev, before};
    if (before->prev != nullptr) {
        before->prev->next = node;
    } else {
        m_head = node;
    }
    before->prev = node;
    ++m_count;
}

void TKListOfObject::unlink(TKListNode* node) {
    // Another iterator standing here would dangle; it loses its position.
    for (TKListIteratorObj* it = m_iterators; it != nullptr; it = it->m_nextIterator) {
        if (it->m_node == node) {
            it->m_node = nullptr;
        }
    }
    if (node->prev != nullptr) {
        node->prev->next = node->next;
    } else {
        m_head = node->next;
    }
    if (node->next != nullptr) {
        node->next->prev = node->prev;
    } else {
        m_tail = node->prev;
    }
    --m_count;
    delete node;
}

TObject* TKListOfObject::Remove(TKListIteratorObj& position) {
    ORVANE_ASSERT(position.m_list == this || !position.IsValid(), return nullptr);
    if (position.m_list != this || position.m_node == nullptr) {
        return nullptr;
    }
    TKListNode* node = position.m_node;
    TKListNode* next = node->next;
    TObject* object = node->object;
    unlink(node);
    position.m_node = next;
    return object;
}

bool TKListOfObject::RemoveObject(const TObject* object) {
    for (TKListNode* node = m_head; node != nullptr; node = node->next) {
        if (node->object == object) {
            unlink(node);
            return true;
        }
    }
    return false;
}

void TKListOfObject::Clear() {
    for (TKListIteratorObj* it = m_iterators; it != nullptr; it = it->m_nextIterator) {
        it->m_node = nullptr;
    }
    TKListNode* node = m_head;
    while (node != nullptr) {
        TKListNode* next = node->next;
        delete node;
        node = next;
    }
    m_head = m_tail = nullptr;
    m_count = 0;
}

void TKListOfObject::FreeObjectsAndClear() {
    // Take the objects out first: a destructor may look at or change this list.
    std::vector<TObject*> objects;
    objects.reserve(static_cast<std::size_t>(m_count));
    for (TKListNode* node = m_head; node != nullptr; node = node->next) {
        objects.push_back(node->object);
    }
    Clear();
    std::unordered_set<TObject*> freed;
    for (TObject* object : objects) {
        if (object != nullptr && freed.insert(object).second) {
            delete object;
        }
    }
}

bool TKListOfObject::Contains(const TObject* object) const {
    for (TKListNode* node = m_head; node != nullptr; node = node->next) {
        if (node->object == object) {
            return true;
        }
    }
    return false;
}

TObject* TKListOfObject::At(int index) const {
    if (index < 0 || index >= m_count) {
        return nullptr;
    }
    TKListNode* node = m_head;
    while (index-- > 0) {
        node = node->next;
    }
    return node->object;
}

std::unique_ptr<TKListIteratorObj> TKListOfObject::First() const {
    return std::make_unique<TKListIteratorObj>(*this, itFirst);
}

std::unique_ptr<TKListIteratorObj> TKListOfObject::Last() const {
    return std::make_unique<TKListIteratorObj>(*this, itLast);
}

TObject* TKListOfObject::const_iterator::operator*() const {
    return m_node->object;
}

TKListOfObject::const_iterator& TKListOfObject::const_iterator::operator++() {
    m_node = m_node->next;
    return *this;
}

// ---------------------------------------------------------------------------
// Keys

int TKMapLongIntKey::Hash() const {
    const int remainder = m_value % kMapBucketCount;
    return remainder < 0 ? remainder + kMapBucketCount : remainder;
}

bool TKMapLongIntKey::Equals(const TKMapKey& other) const {
    const auto* key = dynamic_cast<const TKMapLongIntKey*>(&other);
    return key != nullptr && key->m_value == m_value;
}

std::uint16_t TKMapStringKey::TextHash(const QString& text) {
    std::uint32_t h = 0;
    for (const char byte : toWindows1252(text)) {
        h = (h * 33 + static_cast<unsigned char>(byte)) % 65536;
    }
    return static_cast<std::uint16_t>(h);
}

int TKMapStringKey::Hash() const {
    return TextHash(m_value) % kMapBucketCount;
}

bool TKMapStringKey::Equals(const TKMapKey& other) const {
    const auto* key = dynamic_cast<const TKMapStringKey*>(&other);
    return key != nullptr && key->m_value == m_value;
}

// ---------------------------------------------------------------------------
// TKMapToObject

namespace {

// One entry of a bucket: the value (borrowed) and its key (owned).
struct TKMapPair final : TObject {
    TKMapPair(TObject* v, std::unique_ptr<TKMapKey> k) : value(v), key(std::move(k)) {}
    TObject* value;
    std::unique_ptr<TKMapKey> key;
};

TKMapPair* pairAt(const TKListIteratorObj& it) {
    return static_cast<TKMapPair*>(it.Current());
}

} // namespace

TKMapToObject::TKMapToObject() : m_buckets(new TKListOfObject[kMapBucketCount]) {}

TKMapToObject::~TKMapToObject() {
    Clear();
}

void TKMapToObject::Add(std::unique_ptr<TKMapKey> key, TObject* value) {
    ORVANE_ASSERT(key != nullptr, return );
    const int index = key->Hash();
    m_buckets[index].Append(new TKMapPair(value, std::move(key)));
    ++m_count;
}

TObject* TKMapToObject::Find(const TKMapKey& key) const {
    for (TObject* entry : m_buckets[key.Hash()]) {
        auto* pair = static_cast<TKMapPair*>(entry);
        if (pair->key->Equals(key)) {
            return pair->value;
        }
    }
    return nullptr;
}

TObject* TKMapToObject::Remove(const TKMapKey& key) {
    TKListOfObject& list = m_buckets[key.Hash()];
    for (TKListIteratorObj it(list); it.IsValid(); it.Next()) {
        TKMapPair* pair = pairAt(it);
        if (pair->key->Equals(key)) {
            TObject* value = pair->value;
            list.Remove(it);
            delete pair;
            --m_count;
            return value;
        }
    }
    return nullptr;
}

void TKMapToObject::Clear() {
    for (int i = 0; i < kMapBucketCount; ++i) {
        m_buckets[i].FreeObjectsAndClear();
    }
    m_count = 0;
}

void TKMapToObject::FreeValuesAndClear() {
    std::vector<TObject*> values;
    values.reserve(static_cast<std::size_t>(m_count));
    for (int i = 0; i < kMapBucketCount; ++i) {
        for (TObject* entry : m_buckets[i]) {
            values.push_back(static_cast<TKMapPair*>(entry)->value);
        }
    }
    Clear();
    std::unordered_set<TObject*> freed;
    for (TObject* value : values) {
        if (value != nullptr && freed.insert(value).second) {
            delete value;
        }
    }
}

std::unique_ptr<TKMapIteratorObj> TKMapToObject::First() const {
    return std::make_unique<TKMapIteratorObj>(*this, itFirst);
}

std::unique_ptr<TKMapIteratorObj> TKMapToObject::Last() const {
    return std::make_unique<TKMapIteratorObj>(*this, itLast);
}

// ---------------------------------------------------------------------------
// TKMapIteratorObj

TKMapIteratorObj::TKMapIteratorObj(const TKMapToObject& map, TKIteratorStart start) : m_map(&map) {
    if (start == itFirst) {
        seekForward(0);
    } else {
        seekBackward(kMapBucketCount - 1);
    }
}

void TKMapIteratorObj::seekForward(int fromBucket) {
    for (int i = fromBucket; i < kMapBucketCount; ++i) {
        if (!m_map->bucket(i).IsEmpty()) {
            m_bucket = i;
            m_position = TKListIteratorObj(m_map->bucket(i), itFirst);
            return;
        }
    }
    Invalidate();
}

void TKMapIteratorObj::seekBackward(int fromBucket) {
    for (int i = fromBucket; i >= 0; --i) {
        if (!m_map->bucket(i).IsEmpty()) {
            m_bucket = i;
            m_position = TKListIteratorObj(m_map->bucket(i), itLast);
            return;
        }
    }
    Invalidate();
}

TObject* TKMapIteratorObj::Current() const {
    const TKMapPair* pair = IsValid() ? pairAt(m_position) : nullptr;
    return pair != nullptr ? pair->value : nullptr;
}

const TKMapKey* TKMapIteratorObj::Key() const {
    const TKMapPair* pair = IsValid() ? pairAt(m_position) : nullptr;
    return pair != nullptr ? pair->key.get() : nullptr;
}

// The inner position also goes invalid when its pair is removed or the map is
// cleared or destroyed, so validity is read from it.
bool TKMapIteratorObj::IsValid() const {
    return m_bucket >= 0 && m_position.IsValid();
}

void TKMapIteratorObj::Invalidate() {
    m_bucket = -1;
    m_position.Invalidate();
}

void TKMapIteratorObj::Assign(const TKIteratorObj& other) {
    const auto* same = dynamic_cast<const TKMapIteratorObj*>(&other);
    ORVANE_ASSERT(same != nullptr, Invalidate(); return );
    *this = *same;
}

std::unique_ptr<TKIteratorObj> TKMapIteratorObj::Clone() const {
    return std::make_unique<TKMapIteratorObj>(*this);
}

bool TKMapIteratorObj::Equals(const TKIteratorObj& other) const {
    const auto* same = dynamic_cast<const TKMapIteratorObj*>(&other);
    if (same == nullptr) {
        return false;
    }
    if (!IsValid() || !same->IsValid()) {
        return IsValid() == same->IsValid();
    }
    return m_map == same->m_map && m_position.Equals(same->m_position);
}

void TKMapIteratorObj::Next() {
    if (!IsValid()) {
        return;
    }
    m_position.Next();
    if (!m_position.IsValid()) {
        seekForward(m_bucket + 1);
    }
}

void TKMapIteratorObj::Previous() {
    if (!IsValid()) {
        return;
    }
    m_position.Previous();
    if (!m_position.IsValid()) {
        seekBackward(m_bucket - 1);
    }
}

// ---------------------------------------------------------------------------
// Typed faces

void TKMapLongIntToObject::Add(std::int32_t key, TObject* value) {
    TKMapToObject::Add(std::make_unique<TKMapLongIntKey>(key), value);
}

TObject* TKMapLongIntToObject::Find(std::int32_t key) const {
    return TKMapToObject::Find(TKMapLongIntKey(key));
}

TObject* TKMapLongIntToObject::Remove(std::int32_t key) {
    return TKMapToObject::Remove(TKMapLongIntKey(key));
}

void TKMapStringToObject::Add(const QString& key, TObject* value) {
    TKMapToObject::Add(std::make_unique<TKMapStringKey>(key), value);
}

TObject* TKMapStringToObject::Find(const QString& key) const {
    return TKMapToObject::Find(TKMapStringKey(key));
}

TObject* TKMapStringToObject::Remove(const QString& key) {
    return TKMapToObject::Remove(TKMapStringKey(key));
}

} // namespace orvane
