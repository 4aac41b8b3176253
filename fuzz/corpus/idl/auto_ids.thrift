struct A { string name, optional i32 x; 1: i32 y, required i64 z }
service S { void f(string a, i32 b; 3: i64 c) throws (E e, 2: F f) }
