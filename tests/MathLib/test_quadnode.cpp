// The geometric quadtree node: linking, rectangles handed down, lookups,
// counts and the stream round trip.

#include "MathLib/VQGeomStructQuadNode.h"

#include "Common/VQDataStream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

typedef CVQGeomStructQuadNode Node;

struct Rect {
    float x0, y0, x1, y1;
};

::testing::AssertionResult HasRect(const Node* n, const Rect& r)
{
    if (n->GetMinX() == r.x0 && n->GetMinY() == r.y0 && n->GetMaxX() == r.x1 && n->GetMaxY() == r.y1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "rect (" << n->GetMinX() << ", " << n->GetMinY() << ")-(" << n->GetMaxX()
                                         << ", " << n->GetMaxY() << "), expected (" << r.x0 << ", " << r.y0 << ")-("
                                         << r.x1 << ", " << r.y1 << ")";
}

// Owns the nodes of a test tree (the nodes themselves own nothing).
struct Pool {
    std::vector<std::unique_ptr<Node>> nodes;
    Node* New()
    {
        nodes.emplace_back(new Node());
        return nodes.back().get();
    }
};

// Every node's rectangle is its parent's quadrant and its generation one
// more; returns the number of nodes checked.
int CheckTree(const Node* n)
{
    int count = 1;
    for (int i = 0; i < 4; ++i) {
        const Node* c = n->GetChild(i);
        if (!c)
            continue;
        Rect q;
        n->GetQuadrantRect(i, q.x0, q.y0, q.x1, q.y1);
        EXPECT_TRUE(HasRect(c, q));
        EXPECT_EQ(c->GetGeneration(), n->GetGeneration() + 1);
        count += CheckTree(c);
    }
    return count;
}

}  // namespace

TEST(GeomStructQuadNode, AddChildHandsQuadrantAndGenerationDownTheWholeSubtree)
{
    const Rect quadrants[4] = {{0, 0, 4, 2}, {4, 0, 8, 2}, {0, 2, 4, 4}, {4, 2, 8, 4}};
    for (int i = 0; i < 4; ++i) {
        Pool pool;
        Node* root = pool.New();
        root->SetRoot(0, 0, 8, 4);
        // A subtree built elsewhere, with rectangles and generations of its own.
        Node* child = pool.New();
        Node* grandchild = pool.New();
        Node* greatgrandchild = pool.New();
        child->SetRoot(100, 100, 200, 200);
        ASSERT_TRUE(child->AddChild(1, grandchild));
        ASSERT_TRUE(grandchild->AddChild(2, greatgrandchild));
        child->SetGeneration(7);

        ASSERT_TRUE(root->AddChild(i, child));
        EXPECT_EQ(root->GetChild(i), child);
        EXPECT_TRUE(HasRect(child, quadrants[i]));
        const Rect& q = quadrants[i];
        const float mx = (q.x0 + q.x1) / 2, my = (q.y0 + q.y1) / 2;
        EXPECT_TRUE(HasRect(grandchild, {mx, q.y0, q.x1, my}));
        EXPECT_TRUE(HasRect(greatgrandchild, {mx, (q.y0 + my) / 2, (mx + q.x1) / 2, my}));
        EXPECT_EQ(child->GetGeneration(), 1);
        EXPECT_EQ(grandchild->GetGeneration(), 2);
        EXPECT_EQ(greatgrandchild->GetGeneration(), 3);
    }
}

TEST(GeomStructQuadNode, AddChildRefusesBadLinksAndChangesNothing)
{
    Pool pool;
    Node* root = pool.New();
    root->SetRoot(0, 0, 8, 8);
    Node* child = pool.New();
    Node* grandchild = pool.New();
    ASSERT_TRUE(root->AddChild(0, child));
    ASSERT_TRUE(child->AddChild(3, grandchild));
    Node* spare = pool.New();
    spare->SetRoot(1, 2, 3, 4);
    struct Case {
        const char* name;
        Node* parent;
        int i;
        Node* node;
    } cases[] = {
        {"index -1", root, -1, spare},  {"index 4", root, 4, spare},   {"null child", root, 1, nullptr},
        {"taken slot", root, 0, spare}, {"itself", root, 1, root},     {"its parent (loop)", child, 0, root},
        {"its grandparent (loop)", grandchild, 0, root},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.parent->AddChild(c.i, c.node)) << c.name;
        EXPECT_EQ(root->CountNodes(0), 3) << c.name;
        EXPECT_TRUE(HasRect(spare, {1, 2, 3, 4})) << c.name;
        EXPECT_EQ(root->GetChild(0), child) << c.name;
    }
    EXPECT_EQ(CheckTree(root), 3);
}

TEST(GeomStructQuadNode, SetBoundingBoxRecursiveHandsEveryDescendantItsQuarter)
{
    std::mt19937 rng(4);
    for (int round = 0; round < 20; ++round) {
        Pool pool;
        Node* root = pool.New();
        root->SetRoot(0, 0, 1, 1);
        std::vector<Node*> nodes = {root};
        for (int k = 0; k < 40; ++k) {
            Node* parent = nodes[rng() % nodes.size()];
            Node* n = pool.New();
            if (parent->AddChild(int(rng() % 4), n))
                nodes.push_back(n);
        }
        // Without recursion the children keep their old rectangles.
        Node* first = root->GetChild(0) ? root->GetChild(0) : root->GetChild(1) ? root->GetChild(1) : root->GetChild(2) ? root->GetChild(2) : root->GetChild(3);
        ASSERT_NE(first, nullptr);
        const Rect before{first->GetMinX(), first->GetMinY(), first->GetMaxX(), first->GetMaxY()};
        root->SetBoundingBox(-64, 32, 192, 96, false);
        EXPECT_TRUE(HasRect(root, {-64, 32, 192, 96}));
        EXPECT_TRUE(HasRect(first, before));

        root->SetBoundingBox(-64, 32, 192, 96, true);
        EXPECT_EQ(CheckTree(root), int(nodes.size()));
        EXPECT_EQ(root->CountNodes(0), int(nodes.size()));
        // Rectangles of one generation tile the root: areas add up level by level.
        for (Node* n : nodes) {
            const float area = (n->GetMaxX() - n->GetMinX()) * (n->GetMaxY() - n->GetMinY());
            EXPECT_FLOAT_EQ(area, 256.0f * 64.0f / std::pow(4.0f, float(n->GetGeneration())));
        }
    }
}

TEST(GeomStructQuadNode, IsInAndIntersectsIncludeBorders)
{
    Node n;
    n.SetRoot(-1, 2, 3, 4);
    struct Case {
        float x, y;
        bool in;
    } cases[] = {
        {1, 3, true},    {-1, 2, true},  {3, 4, true},   {-1, 4, true},  {3, 3, true},
        {std::nextafter(-1.0f, -2.0f), 3, false},       {1, std::nextafter(4.0f, 5.0f), false},
        {5, 3, false},   {1, 0, false},  {NAN, 3, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(n.IsIn(c.x, c.y), c.in) << c.x << ", " << c.y;
    EXPECT_TRUE(n.Intersects(3, 4, 10, 10));   // touching at a corner
    EXPECT_TRUE(n.Intersects(-5, 0, -1, 2));   // touching at the other corner
    EXPECT_TRUE(n.Intersects(0, 0, 1, 10));    // crossing
    EXPECT_FALSE(n.Intersects(3.5f, 0, 5, 10));
    EXPECT_FALSE(n.Intersects(-5, 4.5f, 5, 10));
}

TEST(GeomStructQuadNode, GetNodeAtFindsTheDeepestNodeAndTheFirstChildOnSharedBorders)
{
    Pool pool;
    Node* root = pool.New();
    root->SetRoot(0, 0, 8, 8);
    Node* c[4];
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(root->AddChild(i, c[i] = pool.New()));
    Node* c3child = pool.New();  // quadrant 0 of child 3: (4,4)-(6,6)
    ASSERT_TRUE(c[3]->AddChild(0, c3child));
    struct Case {
        float x, y;
        Node* expected;
    } cases[] = {
        {1, 1, c[0]},     {7, 1, c[1]},     {1, 7, c[2]},  {5, 5, c3child}, {7, 7, c[3]},
        {4, 1, c[0]},     // border of 0 and 1
        {4, 4, c[0]},     // the centre: all four children hold it
        {6, 4, c[1]},     // border of 1 and 3
        {4, 6, c[2]},     // border of 2 and 3
        {8, 8, c[3]},     {6, 6, c3child},  {-0.5f, 3, nullptr}, {3, 8.5f, nullptr},
    };
    for (const Case& k : cases)
        EXPECT_EQ(root->GetNodeAt(k.x, k.y), k.expected) << k.x << ", " << k.y;
    // A quadrant without a child answers with the node itself.
    ASSERT_EQ(root->RemoveChild(1), c[1]);
    EXPECT_EQ(root->GetNodeAt(7, 1), root);
}

TEST(GeomStructQuadNode, RemoveChildAndCounts)
{
    Pool pool;
    Node* root = pool.New();
    root->SetRoot(0, 0, 4, 4);
    Node* a = pool.New();
    Node* a0 = pool.New();
    ASSERT_TRUE(root->AddChild(2, a));
    ASSERT_TRUE(root->AddChild(3, pool.New()));
    ASSERT_TRUE(a->AddChild(0, a0));
    EXPECT_EQ(root->CountNodes(10), 14);  // the start value is added
    EXPECT_EQ(root->CountLeaves(5), 7);
    EXPECT_EQ(root->CountBytes(3), 3 + 4 * int(sizeof(Node)));
    for (int i : {-1, 1, 4})
        EXPECT_EQ(root->RemoveChild(i), nullptr) << i;
    EXPECT_EQ(root->RemoveChild(2), a);
    EXPECT_EQ(root->CountNodes(0), 2);
    EXPECT_EQ(a->GetChild(0), a0) << "a removed child keeps its own subtree";
}

TEST(GeomStructQuadNode, SerializeRoundTripsIntoATreeOfTheSameShape)
{
    auto build = [](Pool& pool) {
        Node* root = pool.New();
        root->SetRoot(0, 0, 16, 16);
        Node* c1 = pool.New();
        root->AddChild(1, c1);
        c1->AddChild(2, pool.New());
        root->AddChild(3, pool.New());
        return root;
    };
    Pool src, dst;
    Node* a = build(src);
    a->SetBoundingBox(-3.5f, 1, 9, 2.25f, true);
    a->SetGeneration(5);
    CVQDataStream out;
    a->Serialize(out);
    Node* b = build(dst);
    CVQDataStream in(out.GetBytes().data(), out.GetBytes().size());
    b->Serialize(in);
    EXPECT_TRUE(HasRect(b, {-3.5f, 1, 9, 2.25f}));
    EXPECT_TRUE(HasRect(b->GetChild(1)->GetChild(2), {a->GetChild(1)->GetChild(2)->GetMinX(), a->GetChild(1)->GetChild(2)->GetMinY(),
                                                      a->GetChild(1)->GetChild(2)->GetMaxX(), a->GetChild(1)->GetChild(2)->GetMaxY()}));
    EXPECT_EQ(b->GetChild(1)->GetChild(2)->GetGeneration(), 7);
    EXPECT_EQ(CheckTree(b), 4);
}
