#include "platform/KContainer.h"

#include <gtest/gtest.h>

#include <vector>

#include "SoftAssertGuard.h"

using namespace orvane;

namespace {

// An object that counts its own destruction, to prove who frees what.
struct Counted : TObject {
    explicit Counted(int v, int* deaths = nullptr) : value(v), deaths(deaths) {}
    ~Counted() override {
        if (deaths != nullptr) {
            ++*deaths;
        }
    }
    int value;
    int* deaths;
};

std::vector<int> valuesOf(const TKListOfObject& list) {
    std::vector<int> out;
    for (TObject* o : list) {
        out.push_back(static_cast<Counted*>(o)->value);
    }
    return out;
}

std::vector<int> walk(TKIteratorObj& it, bool forward) {
    std::vector<int> out;
    for (; it.IsValid(); forward ? it.Next() : it.Previous()) {
        out.push_back(it.CurrentAs<Counted>()->value);
    }
    return out;
}

} // namespace

TEST(KListOfObject, AppendInsertAndRemoveKeepOrderAndCount) {
    Counted a(1), b(2), c(3), d(4);
    TKListOfObject list;
    EXPECT_TRUE(list.IsEmpty());
    list.Append(&a);
    list.Append(&c);

    TKListIteratorObj pos(list);
    pos.Next(); // at c
    list.Insert(pos, &b);
    EXPECT_EQ(pos.CurrentAs<Counted>(), &c) << "insert must not move the position";
    list.Insert(TKListIteratorObj(list), &d); // before the first
    TKListIteratorObj end(list, itLast);
    end.Next(); // past the end: insert appends
    list.Insert(end, &a);
    EXPECT_EQ(valuesOf(list), (std::vector<int>{4, 1, 2, 3, 1}));
    EXPECT_EQ(list.Count(), 5);

    // Remove returns the object and moves on to the next element.
    TKListIteratorObj it(list);
    it.Next();
    EXPECT_EQ(list.Remove(it), &a);
    EXPECT_EQ(it.CurrentAs<Counted>(), &b);
    TKListIteratorObj last(list, itLast);
    EXPECT_EQ(list.Remove(last), &a);
    EXPECT_FALSE(last.IsValid());
    EXPECT_EQ(list.Remove(last), nullptr);
    EXPECT_EQ(valuesOf(list), (std::vector<int>{4, 2, 3}));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.At(2), &c);
    EXPECT_EQ(list.At(3), nullptr);

    EXPECT_TRUE(list.RemoveObject(&d));
    EXPECT_FALSE(list.Contains(&d));
    EXPECT_EQ(list.Count(), 2);
}

TEST(KListOfObject, NeverFreesWhatItHoldsUnlessAsked) {
    int deaths = 0;
    auto* shared = new Counted(1, &deaths);
    {
        TKListOfObject list;
        list.Append(shared);
        list.Append(shared);
        list.Clear();
        EXPECT_TRUE(list.IsEmpty());
        list.Append(shared);
    }
    EXPECT_EQ(deaths, 0);

    TKListOfObject owning;
    owning.Append(shared);
    owning.Append(new Counted(2, &deaths));
    owning.Append(shared); // held twice, freed once
    owning.Append(nullptr);
    owning.FreeObjectsAndClear();
    EXPECT_EQ(deaths, 2);
    EXPECT_TRUE(owning.IsEmpty());
}

TEST(KListIteratorObj, OperationsWalkBothWaysAndCompareByPosition) {
    Counted a(1), b(2), c(3);
    TKListOfObject list;
    list.Append(&a);
    list.Append(&b);
    list.Append(&c);

    auto first = list.First();
    auto forward = first->Clone();
    EXPECT_EQ(walk(*forward, true), (std::vector<int>{1, 2, 3}));
    auto backward = list.Last();
    EXPECT_EQ(walk(*backward, false), (std::vector<int>{3, 2, 1}));

    // Moving an invalid iterator keeps it invalid.
    forward->Previous();
    EXPECT_FALSE(forward->IsValid());
    EXPECT_EQ(forward->Current(), nullptr);

    auto copy = first->Clone();
    EXPECT_TRUE(copy->Equals(*first));
    copy->Next();
    EXPECT_FALSE(copy->Equals(*first));
    first->Assign(*copy);
    EXPECT_TRUE(first->Equals(*copy));
    EXPECT_EQ(first->CurrentAs<Counted>(), &b);
    first->Invalidate();
    EXPECT_FALSE(first->IsValid());
    EXPECT_TRUE(first->Equals(*forward)) << "two invalid iterators are at the same position";

    // Same object held twice: positions differ even though the objects agree.
    TKListOfObject twice;
    twice.Append(&a);
    twice.Append(&a);
    TKListIteratorObj x(twice), y(twice, itLast);
    EXPECT_EQ(x.Current(), y.Current());
    EXPECT_FALSE(x.Equals(y));

    // An iterator of another kind cannot be assigned.
    TKMapToObject map;
    TKMapIteratorObj m(map);
    orvane::test::ExpectSoftAsserts otherKind;
    copy->Assign(m);
    EXPECT_FALSE(copy->IsValid());
    EXPECT_EQ(otherKind.count(), 1);
}

TEST(KListIteratorObj, RemovalLeavesIteratorsElsewhereIntact) {
    Counted a(1), b(2), c(3), d(4);
    TKListOfObject list;
    for (Counted* o : {&a, &b, &c, &d}) {
        list.Append(o);
    }
    TKListIteratorObj onA(list);
    TKListIteratorObj onD(list, itLast);
    TKListIteratorObj onB(list);
    onB.Next();
    TKListIteratorObj onC(onB);
    onC.Next();

    TKListIteratorObj remover(onB);
    list.Remove(remover); // b
    list.Remove(remover); // c
    EXPECT_EQ(remover.CurrentAs<Counted>(), &d);

    // Neighbours still link up both ways.
    onA.Next();
    EXPECT_EQ(onA.CurrentAs<Counted>(), &d);
    onD.Previous();
    EXPECT_EQ(onD.CurrentAs<Counted>(), &a);
    // Iterators that stood on the removed elements lost their position rather
    // than pointing into freed memory.
    EXPECT_FALSE(onB.IsValid());
    EXPECT_FALSE(onC.IsValid());
    onB.Next();
    EXPECT_FALSE(onB.IsValid());
}

TEST(KListIteratorObj, OutlivingItsListLeavesItInvalid) {
    Counted a(1);
    auto list = std::make_unique<TKListOfObject>();
    list->Append(&a);
    auto it = list->First();
    TKListIteratorObj copy(*it);
    list->Clear();
    EXPECT_FALSE(it->IsValid());
    list->Append(&a);
    *it = TKListIteratorObj(*list);
    list.reset();
    EXPECT_FALSE(it->IsValid());
    EXPECT_EQ(it->List(), nullptr);
    it->Next();
    copy = *it;
    EXPECT_FALSE(copy.IsValid());
}

TEST(KMapKey, HashesPickTheDocumentedBuckets) {
    // h = (h * 33 + byte) mod 65536 over the Windows-1252 bytes.
    EXPECT_EQ(TKMapStringKey::TextHash(QStringLiteral("ABC")), 7494);
    EXPECT_EQ(TKMapStringKey(QStringLiteral("ABC")).Hash(), 25);
    EXPECT_EQ(TKMapStringKey::TextHash(QStringLiteral("Run Mode")), 38970); // wraps at 65536
    EXPECT_EQ(TKMapStringKey(QStringLiteral("Run Mode")).Hash(), 73);
    EXPECT_EQ(TKMapStringKey(QStringLiteral("SYSTEM")).Hash(), 23);
    EXPECT_EQ(TKMapStringKey(QStringLiteral("system")).Hash(), 55);
    EXPECT_EQ(TKMapStringKey(QString(QChar(0xE9))).Hash(), 233 % 97); // byte, not UTF-8
    EXPECT_EQ(TKMapStringKey(QString()).Hash(), 0);

    EXPECT_EQ(TKMapLongIntKey(5).Hash(), 5);
    EXPECT_EQ(TKMapLongIntKey(97 * 3 + 4).Hash(), 4);
    EXPECT_EQ(TKMapLongIntKey(-1).Hash(), 96);
    EXPECT_EQ(TKMapLongIntKey(INT32_MIN).Hash(), (INT32_MIN % 97) + 97);

    EXPECT_TRUE(TKMapStringKey(QStringLiteral("Ab")).Equals(TKMapStringKey(QStringLiteral("Ab"))));
    EXPECT_FALSE(TKMapStringKey(QStringLiteral("Ab")).Equals(TKMapStringKey(QStringLiteral("AB"))));
    EXPECT_FALSE(TKMapLongIntKey(65).Equals(TKMapStringKey(QStringLiteral("A"))));
}

TEST(KMapToObject, DuplicateKeysFindAndRemoveTheEarliestAdded) {
    Counted first(1), second(2), other(3);
    TKMapStringToObject map;
    map.Add(QStringLiteral("RUN MODE"), &first);
    map.Add(QStringLiteral("z"), &other); // shares no bucket with the key above
    map.Add(QStringLiteral("RUN MODE"), &second);
    EXPECT_EQ(map.Count(), 3);

    EXPECT_EQ(map.Find(QStringLiteral("RUN MODE")), &first);
    EXPECT_EQ(map.Find(QStringLiteral("Run Mode")), nullptr) << "keys are case-sensitive";
    EXPECT_EQ(map.Remove(QStringLiteral("RUN MODE")), &first);
    EXPECT_EQ(map.FindAs<Counted>(QStringLiteral("RUN MODE")), &second);
    EXPECT_EQ(map.Remove(QStringLiteral("RUN MODE")), &second);
    EXPECT_EQ(map.Remove(QStringLiteral("RUN MODE")), nullptr);
    EXPECT_EQ(map.Count(), 1);
}

TEST(KMapToObject, IteratesBucketsInOrderAndInsertionOrderWithin) {
    Counted v5(5), v102(102), v3(3), vNeg(-1), v200(200);
    TKMapLongIntToObject map;
    map.Add(-1, &vNeg);  // bucket 96
    map.Add(102, &v102); // bucket 5, before 5 itself
    map.Add(5, &v5);
    map.Add(3, &v3);
    map.Add(200, &v200); // bucket 6
    auto it = map.First();
    EXPECT_EQ(walk(*it, true), (std::vector<int>{3, 102, 5, 200, -1}));
    auto back = map.Last();
    EXPECT_EQ(walk(*back, false), (std::vector<int>{-1, 200, 5, 102, 3}));

    auto keyed = map.First();
    keyed->Next();
    ASSERT_NE(keyed->Key(), nullptr);
    EXPECT_EQ(static_cast<const TKMapLongIntKey*>(keyed->Key())->Value(), 102);

    TKMapStringToObject strings;
    Counted z(1), abc(2);
    strings.Add(QStringLiteral("z"), &z); // 'z' = 122, bucket 25 like "ABC"
    strings.Add(QStringLiteral("ABC"), &abc);
    auto s = strings.First();
    EXPECT_EQ(walk(*s, true), (std::vector<int>{1, 2}));

    TKMapToObject empty;
    EXPECT_FALSE(empty.First()->IsValid());
    EXPECT_FALSE(empty.Last()->IsValid());
}

TEST(KMapToObject, RemovalWhileIteratorsStandElsewhere) {
    Counted v5(5), v102(102), v3(3), v6(6);
    TKMapLongIntToObject map;
    map.Add(5, &v5);
    map.Add(102, &v102);
    map.Add(3, &v3);
    map.Add(6, &v6);

    auto onThree = map.First();
    auto on102 = map.First();
    on102->Next();
    on102->Next();
    ASSERT_EQ(on102->CurrentAs<Counted>(), &v102);
    auto onFive = map.First();
    onFive->Next();

    EXPECT_EQ(map.Remove(5), &v5);
    EXPECT_FALSE(onFive->IsValid()) << "the pair it stood on is gone";
    onThree->Next();
    EXPECT_EQ(onThree->CurrentAs<Counted>(), &v102);
    EXPECT_TRUE(onThree->Equals(*on102));
    on102->Previous();
    EXPECT_EQ(on102->CurrentAs<Counted>(), &v3);
    on102->Next();
    on102->Next();
    EXPECT_EQ(on102->CurrentAs<Counted>(), &v6);
    EXPECT_EQ(map.Count(), 3);
}

TEST(KMapToObject, FreesKeysAndPairsButNeverValuesUnlessAsked) {
    int deaths = 0;
    auto* kept = new Counted(1, &deaths);
    std::unique_ptr<TKMapIteratorObj> survivor;
    {
        TKMapStringToObject map;
        map.Add(QStringLiteral("A"), kept);
        map.Add(QStringLiteral("B"), kept);
        survivor = map.First();
        map.Clear();
        EXPECT_TRUE(map.IsEmpty());
        EXPECT_FALSE(survivor->IsValid());
        map.Add(QStringLiteral("C"), kept);
        survivor = map.First();
    }
    EXPECT_EQ(deaths, 0);
    EXPECT_FALSE(survivor->IsValid()) << "an iterator that outlives its map is invalid";
    survivor->Next();

    TKMapLongIntToObject owning;
    owning.Add(1, kept);
    owning.Add(2, kept);
    owning.Add(3, new Counted(3, &deaths));
    owning.FreeValuesAndClear();
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(owning.Count(), 0);
}
