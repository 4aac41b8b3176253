typedef list<i32> (cpp.template = "std::list") L (x)
enum E { A (a = "b"), B = 2 (c) } (d)
struct S (e) { 1: map<set<i32> (f = "g"), string (h)> (i) m (j) = {} (k); 2: RecList & next } (l)
service Q (m) { list<i32 (n)> (o) f(1: i32 a (p)) throws (1: X x (q)) (r) }
namespace xsd test (uri = 'http://x')
