#!/bin/bash
# geography and geometry: columns and variables hold SQL Server's serialized
# bytes (expected bytes are values SQL Server produced for the same text);
# Point, STGeomFromText, Parse, CAST from text and varbinary; STAsText,
# ToString, STX/STY, Lat/Long, STSrid, STDistance, STLength, STArea,
# STNumPoints, STIsValid with the reference's example results; 6522 for bad
# text, latitudes and SRIDs; ORDER BY, GROUP BY and comparisons refused;
# UDTTYPE (0xF0) on the wire, read through isql (ODBC) and tsql.
source "$(dirname "$0")/lib/common.sh"

start_server

out=$(tsql_run <<'SQL'
CREATE TABLE places (id int PRIMARY KEY, g geography NULL, p geometry NULL, name nvarchar(20))
INSERT INTO places VALUES (1, geography::Point(47.651, -122.349, 4326), geometry::Point(3, 8, 0), N'point')
INSERT INTO places VALUES (2, geography::STGeomFromText('LINESTRING(-122.360 47.656, -122.343 47.656)', 4326),
  geometry::STGeomFromText('LINESTRING(1 1, 3 3)', 0), N'line')
INSERT INTO places VALUES (3, 'POLYGON((30 10, 40 40, 20 40, 10 20, 30 10))',
  'POLYGON((0 0, 5 0, 5 3, 0 3, 0 0))', N'polygon')
INSERT INTO places VALUES (4, NULL, NULL, N'none')
go
exit
SQL
)
expect_not_contains "rows with spatial values are taken" "$out" "Msg "

# Serialized bytes: SRID, version 1, flags, points (geography: latitude
# first), figures and shapes; the short forms for one point and one segment.
check_rows "bytes" <<'ROWS'
a geography point	SELECT CAST(geography::STGeomFromText('POINT(-73.99 40.75)', 4326) AS varbinary(max))	e6100000010c00000000006044408fc2f5285c7f52c0
a geometry point: x first	SELECT CAST(geometry::STGeomFromText('POINT(-96.70 40.84)', 4326) AS varbinary(max))	e6100000010ccdcccccccc2c58c0ec51b81e856b4440
geography::Point takes latitude first	SELECT CAST(g AS varbinary(max)) FROM places WHERE id = 1	e6100000010c17d9cef753d347407593180456965ec0
one segment	SELECT CAST(g AS varbinary(max)) FROM places WHERE id = 2	e610000001148716d9cef7d34740d7a3703d0a975ec08716d9cef7d34740cba145b6f3955ec0
a geography polygon: five points, an exterior ring, one shape	SELECT CAST(g AS varbinary(max)) FROM places WHERE id = 3	e610000001040500000000000000000024400000000000003e4000000000000044400000000000004440000000000000444000000000000034400000000000003440000000000000244000000000000024400000000000003e4001000000020000000001000000ffffffff0000000003
a geometry polygon	SELECT CAST(p AS varbinary(max)) FROM places WHERE id = 3	00000000010405000000000000000000000000000000000000000000000000001440000000000000000000000000000014400000000000000840000000000000000000000000000008400000000000000000000000000000000001000000020000000001000000ffffffff0000000003
an invalid geometry is stored without the valid flag	SELECT CAST(geometry::STGeomFromText('LINESTRING(0 0, 1 1, 0 0)', 0) AS varbinary(max))	0000000001000300000000000000000000000000000000000000000000000000f03f000000000000f03f0000000000000000000000000000000001000000010000000001000000ffffffff0000000002
a multipoint: a MultiPoint shape over two Point shapes	SELECT CAST(geometry::Parse('MULTIPOINT((1 2), (3 4))') AS varbinary(max))	00000000010402000000000000000000f03f000000000000004000000000000008400000000000001040020000000100000000010100000003000000ffffffff0000000004000000000000000001000000000100000001
STAsBinary of a point is OGC WKB: little-endian, type 1, x then y	SELECT geometry::Point(1, 2, 0).STAsBinary()	0101000000000000000000f03f0000000000000040
STAsBinary of a geography line: longitude first	SELECT geography::Parse('LINESTRING(1 2, 3 4)').STAsBinary()	010200000002000000000000000000f03f000000000000004000000000000008400000000000001040
bytes back to a value	SELECT CAST(0xE6100000010C00000000006044408FC2F5285C7F52C0 AS geography).STAsText()	POINT (-73.99 40.75)
a variable from bytes	DECLARE @g geometry = 0x00000000010405000000000000000000000000000000000000000000000000001440000000000000000000000000000014400000000000000840000000000000000000000000000008400000000000000000000000000000000001000000020000000001000000FFFFFFFF0000000003; SELECT @g.ToString()	POLYGON ((0 0, 5 0, 5 3, 0 3, 0 0))
ROWS

check_rows "text" <<'ROWS'
the reference's STPointFromText example	SELECT geography::STPointFromText('POINT(-122.34900 47.65100)', 4326).ToString()	POINT (-122.349 47.651)
the reference's line example	SELECT g.STAsText() FROM places WHERE id = 2	LINESTRING (-122.36 47.656, -122.343 47.656)
the reference's geometry STAsText example	SELECT geometry::STGeomFromText('LINESTRING(0 0, 2 3)', 0).STAsText()	LINESTRING (0 0, 2 3)
a polygon with a hole	SELECT geometry::Parse('POLYGON((0 0, 3 0, 3 3, 0 3, 0 0),(2 2, 2 1, 1 1, 1 2, 2 2))').ToString()	POLYGON ((0 0, 3 0, 3 3, 0 3, 0 0), (2 2, 2 1, 1 1, 1 2, 2 2))
CAST from text is geography 4326	SELECT g.STSrid, g.ToString() FROM places WHERE id = 3	4326|POLYGON ((30 10, 40 40, 20 40, 10 20, 30 10))
CAST from text is geometry 0	SELECT p.STSrid FROM places WHERE id = 3	0
CAST to nvarchar gives the text	SELECT CAST(p AS nvarchar(max)) FROM places WHERE id = 2	LINESTRING (1 1, 3 3)
multipoint	SELECT geometry::Parse('MULTIPOINT((1 2), (3 4))').ToString()	MULTIPOINT ((1 2), (3 4))
multilinestring and its bytes	SELECT geometry::Parse('MULTILINESTRING((0 0, 1 1), (2 2, 3 3))').ToString(), geometry::Parse('MULTILINESTRING((0 0, 1 1), (2 2, 3 3))').STNumPoints()	MULTILINESTRING ((0 0, 1 1), (2 2, 3 3))|4
multipolygon	SELECT geometry::Parse('MULTIPOLYGON(((0 0, 1 0, 1 1, 0 0)), ((2 2, 3 2, 3 3, 2 2)))').STAsText()	MULTIPOLYGON (((0 0, 1 0, 1 1, 0 0)), ((2 2, 3 2, 3 3, 2 2)))
a collection	SELECT geometry::Parse('GEOMETRYCOLLECTION(POINT(1 2), LINESTRING(0 0, 1 1))').STAsText()	GEOMETRYCOLLECTION (POINT (1 2), LINESTRING (0 0, 1 1))
empty	SELECT geography::Parse('POINT EMPTY').ToString()	POINT EMPTY
ToString keeps Z and M, STAsText does not	SELECT geometry::Parse('POINT(1 2 3 4)').ToString() + ' / ' + geometry::Parse('POINT(1 2 3 4)').STAsText()	POINT (1 2 3 4) / POINT (1 2)
15 significant digits	SELECT geometry::Point(0.1 + 0.2, 1e20, 0).STAsText()	POINT (0.3 1E+20)
NULL stays NULL	SELECT ISNULL(g.STAsText(), 'null') FROM places WHERE id = 4	null
ROWS

check_rows "members" <<'ROWS'
the reference's STX and STY example	SELECT geometry::STGeomFromText('POINT(3 8)', 0).STX, geometry::STGeomFromText('POINT(3 8)', 0).STY	3|8
the reference's Lat and Long example	SELECT CAST(g.Lat AS decimal(9,3)), CAST(g.Long AS decimal(9,3)) FROM places WHERE id = 1	47.651|-122.349
STX of a line is NULL	SELECT ISNULL(CAST(p.STX AS varchar(10)), 'null') FROM places WHERE id = 2	null
the reference's STSrid example	SELECT geometry::STGeomFromText('POLYGON((0 0, 3 0, 3 3, 0 3, 0 0))', 13).STSrid	13
the reference's STNumPoints example	SELECT geometry::STGeomFromText('LINESTRING(0 0, 2 2, 1 0)', 0).STNumPoints()	3
the reference's STIsValid example	SELECT geometry::STGeomFromText('LINESTRING(0 0, 2 2, 1 0)', 0).STIsValid()	1
a crossing ring is not valid	SELECT geometry::STGeomFromText('POLYGON((0 0, 2 2, 2 0, 0 2, 0 0))', 0).STIsValid()	0
STGeometryType	SELECT p.STGeometryType() FROM places WHERE id = 3	Polygon
the reference's geometry STDistance example	SELECT CAST(geometry::STGeomFromText('POLYGON((-5 -5, -5 5, 5 5, 5 -5, -5 -5))', 0).STDistance(geometry::STGeomFromText('POINT(10 10)', 0)) AS decimal(20,14))	7.07106781186548
the reference's geometry STLength example	SELECT CAST(p.STLength() AS decimal(20,14)) FROM places WHERE id = 2	2.82842712474619
the reference's geometry STArea example	SELECT geometry::STGeomFromText('POLYGON((0 0, 3 0, 3 3, 0 3, 0 0),(2 2, 2 1, 1 1, 1 2, 2 2))', 0).STArea()	8
SRIDs that differ give NULL	SELECT ISNULL(CAST(geometry::Point(0, 0, 0).STDistance(geometry::Point(1, 1, 4326)) AS varchar(20)), 'null')	null
an empty instance gives NULL	SELECT ISNULL(CAST(geography::Parse('POINT EMPTY').STDistance(g) AS varchar(20)), 'null') FROM places WHERE id = 1	null
text is read as the other instance	SELECT p.STDistance('POINT(6 8)') FROM places WHERE id = 1	3
a column compared as NULL	SELECT COUNT(*) FROM places WHERE g IS NULL	1
DISTINCT over a method's result	SELECT COUNT(*) FROM (SELECT DISTINCT g.STSrid AS s FROM places WHERE g IS NOT NULL) x	1
ROWS

# geography on the WGS 84 ellipsoid in metres. One degree of longitude on the
# equator is a * pi / 180 = 111319.49 m; the reference's example point lies
# 0.005 degrees of latitude south of its line (a meridian arc of 555.92 m at
# 47.65 N). STDistance is within 0.25% of the geodesic, as the reference says.
check_rows "geodesic" <<'ROWS'
one degree on the equator	SELECT CASE WHEN ABS(geography::Point(0, 0, 4326).STDistance(geography::Point(0, 1, 4326)) - 111319.49) < 1 THEN 'ok' ELSE 'off' END	ok
the reference's point to its line	SELECT CASE WHEN ABS(a.g.STDistance(b.g) - 555.92) < 555.92 * 0.0025 THEN 'ok' ELSE CAST(a.g.STDistance(b.g) AS varchar(30)) END FROM places a, places b WHERE a.id = 1 AND b.id = 2	ok
a line's length	SELECT CASE WHEN ABS(geography::Parse('LINESTRING(0 0, 1 0, 2 0)').STLength() - 2 * 111319.49) < 2 THEN 'ok' ELSE 'off' END	ok
SRIDs that differ give NULL	SELECT ISNULL(CAST(geography::Point(0, 0, 4326).STDistance(geography::Point(0, 1, 4269)) AS varchar(20)), 'null')	null
a 1 by 1 degree cell on the equator is 12308.8 square km	SELECT CASE WHEN ABS(geography::Parse('POLYGON((0 0, 1 0, 1 1, 0 1, 0 0))').STArea() / 1e6 - 12308.8) < 12308.8 * 0.0025 THEN 'ok' ELSE 'off' END	ok
crossing lines are 0 apart	SELECT geography::Parse('LINESTRING(-1 0, 1 0)').STDistance(geography::Parse('LINESTRING(0 -1, 0 1)'))	0
a point inside a polygon is 0 from it	SELECT geography::Point(0.5, 0.5, 4326).STDistance(geography::Parse('POLYGON((0 0, 1 0, 1 1, 0 1, 0 0))'))	0
a point in a polygon's hole is not	SELECT CASE WHEN geography::Point(0.5, 0.5, 4326).STDistance(geography::Parse('POLYGON((0 0, 1 0, 1 1, 0 1, 0 0), (0.25 0.25, 0.25 0.75, 0.75 0.75, 0.75 0.25, 0.25 0.25))')) > 0 THEN 'ok' ELSE 'off' END	ok
two lines one degree of latitude apart on the equator (110574.4 m)	SELECT CASE WHEN ABS(geography::Parse('LINESTRING(0 0, 2 0)').STDistance(geography::Parse('LINESTRING(0 1, 2 1)')) - 110574.4) < 110574.4 * 0.0025 THEN 'ok' ELSE 'off' END	ok
a point one degree south of a polygon	SELECT CASE WHEN ABS(geography::Point(-1, 0.5, 4326).STDistance(geography::Parse('POLYGON((0 0, 1 0, 1 1, 0 1, 0 0))')) - 110574.4) < 110574.4 * 0.0025 THEN 'ok' ELSE 'off' END	ok
a point to a multipoint is to its nearest member	SELECT CASE WHEN ABS(geography::Point(0, 0, 4326).STDistance(geography::Parse('MULTIPOINT((5 0), (1 0))')) - 111319.49) < 1 THEN 'ok' ELSE 'off' END	ok
ROWS

check_errors "refused" <<'ROWS'
latitude out of range	SELECT geography::Point(91, 0, 4326)	24201: Latitude values must be between -90 and 90 degrees.
latitude out of range is 6522	SELECT geography::Point(91, 0, 4326)	A .NET Framework error occurred during execution of user-defined routine or aggregate "geography"
an unknown geography SRID	SELECT geography::Point(10, 10, 1234)	24204: The spatial reference identifier (SRID) is not valid.
a geometry SRID out of range	SELECT geometry::Point(1, 1, -1)	24100: The spatial reference identifier (SRID) is not valid. SRIDs must be between 0 and 999999.
an unknown label	SELECT geometry::STGeomFromText('POINTX(1 2)', 0)	24114: The label POINTX(1 2) in the input well-known text (WKT) is not valid.
a number expected	SELECT geometry::STGeomFromText('POINT(1 a)', 0)	24141: A number is expected at position 8 of the input. The input has a.
one point is no line	SELECT geography::STGeomFromText('LINESTRING(1 1)', 4326)	24117: The LineString input is not valid because it does not have enough points.
an open ring	SELECT geometry::STGeomFromText('POLYGON((0 0, 1 0, 1 1, 0 0.5))', 0)	24119: The Polygon input is not valid because the start and end points of the exterior ring are not the same.
a geography ring too short	SELECT geography::STGeomFromText('POLYGON((0 0, 1 0, 0 0))', 4326)	24305: The Polygon input is not valid because the ring number 1 does not have enough points.
a bad text into a column	INSERT INTO places VALUES (9, 'POINT(1)', NULL, N'bad')	24141: A number is expected at position 7 of the input. The input has ).
STPointFromText wants a point	SELECT geometry::STPointFromText('LINESTRING(0 0, 1 1)', 0)	System.FormatException
bytes of another version	SELECT CAST(0xE6100000030C00000000006044408FC2F5285C7F52C0 AS geography)	24210: Geography type with an unexpected version of 3 received
ORDER BY	SELECT id FROM places ORDER BY g	The type "geography" is not comparable. It cannot be used in the ORDER BY clause.
GROUP BY	SELECT COUNT(*) FROM places GROUP BY p	The type "geometry" is not comparable. It cannot be used in the GROUP BY clause.
DISTINCT	SELECT DISTINCT g FROM places	The geography data type cannot be selected as DISTINCT because it is not comparable.
DISTINCT with an alias	SELECT DISTINCT name, p AS shape FROM places	The geometry data type cannot be selected as DISTINCT because it is not comparable.
equality	SELECT COUNT(*) FROM places WHERE g = g	Invalid operator for data type. Operator equals equal to, type equals geography.
member names are case-sensitive	SELECT g.stastext() FROM places	Could not find method 'stastext' for type 'Microsoft.SqlServer.Types.SqlGeography' in assembly 'Microsoft.SqlServer.Types'
Lat is geography's	SELECT p.Lat FROM places	Could not find property or field 'Lat' for type 'Microsoft.SqlServer.Types.SqlGeometry'
an unknown static method	SELECT geography::Nowhere(1)	Could not find method 'Nowhere' for type 'Microsoft.SqlServer.Types.SqlGeography'
a clockwise geography ring is larger than a hemisphere	SELECT geography::Parse('POLYGON((0 0, 0 1, 1 1, 1 0, 0 0))')	24205: The specified input does not represent a valid geography instance because it exceeds a single hemisphere.
a curve is not built	SELECT geometry::Parse('CIRCULARSTRING(0 0, 1 1, 2 0)')	CIRCULARSTRING instances are not built by this server
ROWS
expect_row "nothing was inserted" "SELECT COUNT(*) FROM places" "4"

# The numbers, as tsql shows them.
out=$(tsql_run <<'SQL'
SELECT geography::Point(91, 0, 4326)
go
SELECT id FROM places ORDER BY p
go
SELECT COUNT(*) FROM places WHERE p <> p
go
exit
SQL
)
expect_contains "a spatial library failure is error 6522" "$out" "Msg 6522 (severity 16"
expect_contains "ORDER BY a spatial value is error 249" "$out" "Msg 249 (severity 16"
expect_contains "comparing spatial values is error 403" "$out" "Msg 403 (severity 16"

check_rows "catalogue" <<'ROWS'
geography in sys.types	SELECT name, system_type_id, user_type_id, max_length FROM sys.types WHERE name = 'geography'	geography|240|130|-1
geometry in sys.types	SELECT name, system_type_id, user_type_id, max_length FROM sys.types WHERE name = 'geometry'	geometry|240|129|-1
a column's type and max_length	SELECT t.name, c.max_length FROM sys.columns c JOIN sys.types t ON t.user_type_id = c.user_type_id WHERE c.object_id = OBJECT_ID('places') AND c.name = 'g'	geography|-1
ROWS

# On the wire: UDTTYPE (240), max size 0xFFFF, schema sys, the type name and
# the assembly-qualified name of the CLR type; the value in PLP chunks.
out=$(TDSDUMP="$WORK/dump.log" tsql_run <<'SQL'
SELECT g AS wire_g FROM places WHERE id = 1
go
exit
SQL
)
expect_contains "wire: the column is a UDT (240)" "$(grep -A12 wire_g "$WORK/dump.log")" "type = 240"
expect_contains "tsql reads the row" "$out" "(1 row affected)"
bytes=$(dump_bytes)
expect_contains "wire: max size ffff, schema sys, type geography" "$bytes" "f0ffff00""03$(utf16 sys)09$(utf16 geography)"
aqn="Microsoft.SqlServer.Types.SqlGeography, Microsoft.SqlServer.Types, Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91"
expect_contains "wire: the assembly-qualified name" "$bytes" "$(printf '%02x' ${#aqn})00$(utf16 "$aqn")"
expect_contains "wire: the point in one PLP chunk" "$bytes" "1600000000000000""16000000""e6100000010c17d9cef753d347407593180456965ec0""00000000"

done_checks
