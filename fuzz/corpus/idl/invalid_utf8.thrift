struct A { 1: string s = "ÿþ" }
struct BÃ { }
â‚