struct S0 { 1: i32 a = 1; 2: list<i32> b = [1,2,3] }
struct S1 extends S0 { 3: i32 f1 }
struct S2 extends S1 { 4: i32 f2 }
struct S3 extends S2 { 5: i32 f3 }
struct S4 extends S3 { 6: i32 f4 }
struct S5 extends S4 { 7: i32 f5 }
struct S6 extends S5 { 8: i32 f6 }
struct S7 extends S6 { 9: i32 f7 }
struct S8 extends S7 { 10: i32 f8 }
struct S9 extends S8 { 11: i32 f9 }
struct S10 extends S9 { 12: i32 f10 }
struct S11 extends S10 { 13: i32 f11 }
struct S12 extends S11 { 14: i32 f12 }
struct S13 extends S12 { 15: i32 f13 }
struct S14 extends S13 { 16: i32 f14 }
struct S15 extends S14 { 17: i32 f15 }
struct S16 extends S15 { 18: i32 f16 }
struct S17 extends S16 { 19: i32 f17 }
struct S18 extends S17 { 20: i32 f18 }
struct S19 extends S18 { 21: i32 f19 }
struct S20 extends S19 { 22: i32 f20 }
struct S21 extends S20 { 23: i32 f21 }
struct S22 extends S21 { 24: i32 f22 }
struct S23 extends S22 { 25: i32 f23 }
struct S24 extends S23 { 26: i32 f24 }
struct S25 extends S24 { 27: i32 f25 }
struct S26 extends S25 { 28: i32 f26 }
struct S27 extends S26 { 29: i32 f27 }
struct S28 extends S27 { 30: i32 f28 }
struct S29 extends S28 { 31: i32 f29 }
struct S30 extends S29 { 32: i32 f30 }
struct S31 extends S30 { 33: i32 f31 }
struct S32 extends S31 { 34: i32 f32 }
struct S33 extends S32 { 35: i32 f33 }
struct S34 extends S33 { 36: i32 f34 }
struct S35 extends S34 { 37: i32 f35 }
struct S36 extends S35 { 38: i32 f36 }
struct S37 extends S36 { 39: i32 f37 }
struct S38 extends S37 { 40: i32 f38 }
struct S39 extends S38 { 41: i32 f39 }
struct S40 extends S39 { 42: i32 f40 }
struct S41 extends S40 { 43: i32 f41 }
struct S42 extends S41 { 44: i32 f42 }
struct S43 extends S42 { 45: i32 f43 }
struct S44 extends S43 { 46: i32 f44 }
struct S45 extends S44 { 47: i32 f45 }
struct S46 extends S45 { 48: i32 f46 }
struct S47 extends S46 { 49: i32 f47 }
struct S48 extends S47 { 50: i32 f48 }
struct S49 extends S48 { 51: i32 f49 }
struct S50 extends S49 { 52: i32 f50 }
struct S51 extends S50 { 53: i32 f51 }
struct S52 extends S51 { 54: i32 f52 }
struct S53 extends S52 { 55: i32 f53 }
struct S54 extends S53 { 56: i32 f54 }
struct S55 extends S54 { 57: i32 f55 }
struct S56 extends S55 { 58: i32 f56 }
struct S57 extends S56 { 59: i32 f57 }
struct S58 extends S57 { 60: i32 f58 }
struct S59 extends S58 { 61: i32 f59 }
service V0 { void a(1: i32 x) }
service V1 extends V0 { oneway void m1(i32 a, i32 b) throws (E e) }
service V2 extends V1 { oneway void m2(i32 a, i32 b) throws (E e) }
service V3 extends V2 { oneway void m3(i32 a, i32 b) throws (E e) }
service V4 extends V3 { oneway void m4(i32 a, i32 b) throws (E e) }
service V5 extends V4 { oneway void m5(i32 a, i32 b) throws (E e) }
service V6 extends V5 { oneway void m6(i32 a, i32 b) throws (E e) }
service V7 extends V6 { oneway void m7(i32 a, i32 b) throws (E e) }
service V8 extends V7 { oneway void m8(i32 a, i32 b) throws (E e) }
service V9 extends V8 { oneway void m9(i32 a, i32 b) throws (E e) }
service V10 extends V9 { oneway void m10(i32 a, i32 b) throws (E e) }
service V11 extends V10 { oneway void m11(i32 a, i32 b) throws (E e) }
service V12 extends V11 { oneway void m12(i32 a, i32 b) throws (E e) }
service V13 extends V12 { oneway void m13(i32 a, i32 b) throws (E e) }
service V14 extends V13 { oneway void m14(i32 a, i32 b) throws (E e) }
service V15 extends V14 { oneway void m15(i32 a, i32 b) throws (E e) }
service V16 extends V15 { oneway void m16(i32 a, i32 b) throws (E e) }
service V17 extends V16 { oneway void m17(i32 a, i32 b) throws (E e) }
service V18 extends V17 { oneway void m18(i32 a, i32 b) throws (E e) }
service V19 extends V18 { oneway void m19(i32 a, i32 b) throws (E e) }
service V20 extends V19 { oneway void m20(i32 a, i32 b) throws (E e) }
service V21 extends V20 { oneway void m21(i32 a, i32 b) throws (E e) }
service V22 extends V21 { oneway void m22(i32 a, i32 b) throws (E e) }
service V23 extends V22 { oneway void m23(i32 a, i32 b) throws (E e) }
service V24 extends V23 { oneway void m24(i32 a, i32 b) throws (E e) }
service V25 extends V24 { oneway void m25(i32 a, i32 b) throws (E e) }
service V26 extends V25 { oneway void m26(i32 a, i32 b) throws (E e) }
service V27 extends V26 { oneway void m27(i32 a, i32 b) throws (E e) }
service V28 extends V27 { oneway void m28(i32 a, i32 b) throws (E e) }
service V29 extends V28 { oneway void m29(i32 a, i32 b) throws (E e) }
struct D extends S3 { 100: i32 other }
