const i32 X = MAX_SIZE
struct A { 1: string s = 5 2: i32 y 3: list<i32> l = [1, "a", 3] 4: i32 x = 1.5 5: map<string,list<i32>> m = {"a": [1, x.y]} 6: set<i32> e = {} i32 z = Color. }
