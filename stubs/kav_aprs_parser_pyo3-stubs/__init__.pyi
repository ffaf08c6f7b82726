import datetime
from collections.abc import Sequence
from typing import ClassVar, SupportsFloat, SupportsIndex, TypeAlias, final

__all__ = [
    "parse_kav_aprs_aircraft_beacon",
    "AircraftBeacon",
    "ICAOAddress",
    "KAVAddressType",
    "KAVAircraftType",
    "KAVAPRSProtocol",
    "KAVBeaconID",
    "KAVIDPrefix",
]

# What a number attribute accepts: anything with __float__ or __index__.
_Number: TypeAlias = SupportsFloat | SupportsIndex

def parse_kav_aprs_aircraft_beacon(input: bytes | bytearray | memoryview | Sequence[int]) -> AircraftBeacon: ...

# The enumerations are not enum.Enum: members are class attributes, int()
# gives the code, and == compares with members of the same class or integers.
@final
class KAVAircraftType:
    RESERVED: ClassVar[KAVAircraftType]
    GLIDER: ClassVar[KAVAircraftType]
    TOW_PLANE: ClassVar[KAVAircraftType]
    HELICOPTER: ClassVar[KAVAircraftType]
    PARACHUTE: ClassVar[KAVAircraftType]
    DROP_PLANE: ClassVar[KAVAircraftType]
    HANG_GLIDER: ClassVar[KAVAircraftType]
    PARAGLIDER: ClassVar[KAVAircraftType]
    RECIPROCATING_ENGINE_AIRCRAFT: ClassVar[KAVAircraftType]
    JET_TURBOPROP_AIRCRAFT: ClassVar[KAVAircraftType]
    UNKNOWN: ClassVar[KAVAircraftType]
    BALLOON: ClassVar[KAVAircraftType]
    AIRSHIP: ClassVar[KAVAircraftType]
    UA_VS: ClassVar[KAVAircraftType]
    STATIC_OBSTACLE: ClassVar[KAVAircraftType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class KAVAddressType:
    UNKNOWN: ClassVar[KAVAddressType]
    ICAO: ClassVar[KAVAddressType]
    FLARM: ClassVar[KAVAddressType]
    KAV_TRACKER: ClassVar[KAVAddressType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class KAVAPRSProtocol:
    KAADSB: ClassVar[KAVAPRSProtocol]
    KAFLR: ClassVar[KAVAPRSProtocol]
    KAVSKY: ClassVar[KAVAPRSProtocol]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class ICAOAddress:
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(self, value: SupportsIndex) -> None: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class KAVIDPrefix:
    aircraft_type: KAVAircraftType
    address_type: KAVAddressType
    no_track: bool
    stealth_mode: bool
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(
        self, aircraft_type: KAVAircraftType, address_type: KAVAddressType, no_track: bool, stealth_mode: bool
    ) -> None: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class KAVBeaconID:
    # Reads return copies: changing the returned object leaves the beacon ID as it was.
    prefix: KAVIDPrefix
    icao_address: ICAOAddress
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(self, prefix: KAVIDPrefix, icao_address: ICAOAddress) -> None: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

@final
class AircraftBeacon:
    callsign: str
    q_construct: str
    receiver: str
    kav_aprs_protocol: KAVAPRSProtocol
    time: datetime.time
    latitude: float
    longitude: float
    ground_track: float
    ground_speed: float
    gps_altitude: float
    # Reads return a copy: changing the returned object leaves the beacon as it was.
    kav_beacon_id: KAVBeaconID
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(
        self,
        callsign: str,
        q_construct: str,
        receiver: str,
        kav_aprs_protocol: KAVAPRSProtocol,
        time: datetime.time,
        latitude: _Number,
        longitude: _Number,
        ground_track: _Number,
        ground_speed: _Number,
        gps_altitude: _Number,
        kav_beacon_id: KAVBeaconID,
    ) -> None: ...
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...
