#!/usr/bin/env python3
"""Tests of scripts/function_lengths.py on the shapes that fool a plain brace count."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "scripts"))
import function_lengths  # noqa: E402


def spans(text):
    return [(name, first, last) for name, first, last in function_lengths.functions(text)]


class FunctionLengthsTest(unittest.TestCase):
    def test_shapes(self):
        cases = [
            ("free function, signature over two lines",
             "int f(int a,\n      int b)\n{\n    return a + b;\n}\n",
             [("f", 1, 5)]),
            ("braces in strings, characters and comments",
             'void f()\n{\n    const char* s = "}{";\n    char c = \'}\';\n    // }\n    /* { */\n}\nvoid g() {}\n',
             [("f", 1, 7), ("g", 8, 8)]),
            ("raw string holding braces and quotes",
             'void f()\n{\n    auto s = R"x(}"{)x";\n}\n',
             [("f", 1, 4)]),
            ("lambdas belong to the function that holds them",
             "void f()\n{\n    auto g = [](int x) {\n        return x;\n    };\n}\n",
             [("f", 1, 6)]),
            ("class body: its members are functions, the class is not",
             "namespace n {\nclass A {\npublic:\n    int x() const { return 1; }\n    A() : v_{1}, w_(2)\n    {\n    }\nprivate:\n    int v_{0};\n    int w_;\n};\n}\n",
             [("x", 4, 4), ("A", 5, 7)]),
            ("out-of-class member, destructor and operator",
             "A::~A()\n{\n}\nbool A::operator==(const A&) const\n{\n    return true;\n}\n",
             [("A::~A", 1, 3), ("A::operator==", 4, 7)]),
            ("initialisers and preprocessor lines are no functions",
             "#define X { \\\n  }\nconst int table[] = {1, 2};\nstd::vector<int> v{1, 2};\nauto h = [] { return 1; };\nint k()\n{\n    return 0;\n}\n",
             [("k", 6, 9)]),
            ("test macros are named with their suite and name",
             "TEST(Suite, Name)\n{\n    EXPECT_TRUE(true);\n}\n",
             [("TEST(Suite,Name)", 1, 4)]),
        ]
        for label, text, expected in cases:
            with self.subTest(label):
                self.assertEqual(spans(text), expected)


if __name__ == "__main__":
    unittest.main()
