struct A { 1: list<Point> ps = [{"x": 1}, Foo]; 2: set<P> q = [Foo; Bar,] 3: list<P> r = [, ;] 4: map<string,P> m = {"a": ]} }
