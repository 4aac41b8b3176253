"""velmora demo: the module's classes and the transport / protocol choices."""
import velmora


def main() -> None:
    print("velmora classes:")
    for name in (n for n in vars(velmora) if not n.startswith("__")):
        cls = getattr(velmora, name)
        sig = cls.__text_signature__ or ""
        print(f"  {name}{sig}")
    print("transports:", velmora.TransportType.Framed, velmora.TransportType.Buffered)
    print("protocols: ", velmora.ProtocolType.Binary, velmora.ProtocolType.Compact, velmora.ProtocolType.JSON)


if __name__ == "__main__":
    main()
